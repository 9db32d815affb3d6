#include "SilenceSheet.h"

#include "ItemRecord.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

QDoubleSpinBox* spinBox(QWidget* parent, double low, double high, double step, int decimals,
                        const QString& suffix, const QString& name)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setDecimals(decimals);
    box->setSuffix(suffix);
    box->setAccessibleName(name);
    return box;
}

} // namespace

SilenceSheet::SilenceSheet(QWidget* parent)
    : SheetDialog(parent), mSilence(spinBox(this, 0.2, 30, 0.1, 1, u" s"_s, u"Shortest silence"_s)),
      mLevel(spinBox(this, -80, -10, 1, 0, u" dB"_s, u"Silence level"_s)),
      mMinutes(spinBox(this, 0.1, 600, 1, 2, u" min"_s, u"Shortest chapter"_s)),
      mMinutesLabel(new QLabel(this)), mStatus(new QLabel(this)), mProgress(new QProgressBar(this)),
      mSearch(new QPushButton(u"Find"_s, this)), mCancel(new QPushButton(u"Cancel"_s, this))
{
    setObjectName(u"silenceSheet"_s);
    mSilence->setObjectName(u"shortestSilence"_s);
    mLevel->setObjectName(u"silenceLevel"_s);
    mMinutes->setObjectName(u"chapterMinutes"_s);
    mStatus->setObjectName(u"silenceStatus"_s);
    mSearch->setObjectName(u"silenceSearch"_s);
    mSilence->setValue(2.0);
    mLevel->setValue(-35);
    mMinutes->setValue(2);
    auto* form = new QFormLayout;
    form->addRow(u"Shortest &silence:"_s, mSilence);
    form->addRow(u"&Level of silence:"_s, mLevel);
    form->addRow(mMinutesLabel, mMinutes);
    mMinutesLabel->setBuddy(mMinutes);
    mStatus->setWordWrap(true);
    mStatus->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    mProgress->setAccessibleName(u"Search progress"_s);
    mProgress->setRange(0, 1000);
    mSearch->setDefault(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(mCancel, QDialogButtonBox::RejectRole);
    buttons->addButton(mSearch, QDialogButtonBox::AcceptRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(mStatus);
    layout->addWidget(mProgress);
    layout->addWidget(buttons);
    setMinimumWidth(440);

    connect(mSearch, &QPushButton::clicked, this, [this] {
        mSearching = true;
        mSearch->setEnabled(false);
        mCancel->setText(u"Stop"_s);
        mProgress->setValue(0);
        mProgress->show();
        mStatus->setText(u"Listening for silences…"_s);
        Q_EMIT searchAsked();
    });
    connect(mCancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(this, &QDialog::rejected, this, [this] {
        if (mSearching)
            Q_EMIT stopAsked();
        mSearching = false;
    });
}

void SilenceSheet::ask(Purpose purpose)
{
    mPurpose = purpose;
    const bool find = purpose == Purpose::Find;
    setWindowTitle(find ? u"Find Chapters by Silence"_s : u"Split Long Chapters"_s);
    mMinutesLabel->setText(find ? u"Shortest &chapter:"_s : u"Longest &chapter:"_s);
    mMinutes->setAccessibleName(find ? u"Shortest chapter"_s : u"Longest chapter"_s);
    if (!find && mMinutes->value() < 10)
        mMinutes->setValue(30);
    if (find && mMinutes->value() >= 10)
        mMinutes->setValue(2);
    mSearch->setText(find ? u"Find"_s : u"Split"_s);
    mSearch->setEnabled(true);
    mCancel->setText(u"Cancel"_s);
    mStatus->setText(find ? u"Chapter starts are proposed where the speech resumes after a "
                            "silence at least this long and this quiet. You then take or drop "
                            "each one."_s
                          : u"Each chapter longer than this is cut at the silence nearest each "
                            "such length, or at that length where there is none."_s);
    mProgress->hide();
    mSearching = false;
    open();
}

double SilenceSheet::shortestSilence() const
{
    return mSilence->value();
}

double SilenceSheet::levelDb() const
{
    return mLevel->value();
}

double SilenceSheet::chapterMinutes() const
{
    return mMinutes->value();
}

void SilenceSheet::showSearching(double searched, double total)
{
    if (!mSearching || total <= 0)
        return;
    mProgress->setValue(static_cast<int>(std::clamp(searched / total, 0.0, 1.0) * 1000));
    mStatus->setText(u"Listening for silences… %1 of %2"_s.arg(ItemRecord::formatLength(searched),
                                                               ItemRecord::formatLength(total)));
}

void SilenceSheet::showEnded(const QString& text)
{
    mSearching = false;
    mSearch->setEnabled(true);
    mCancel->setText(u"Close"_s);
    mProgress->hide();
    mStatus->setText(text);
}
