#include "ShiftSheet.h"

#include "ChapterFile.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

ShiftSheet::ShiftSheet(QWidget* parent)
    : SheetDialog(parent), mBy(new QLineEdit(this)),
      mEvery(new QRadioButton(u"&Every chapter"_s, this)),
      mAfter(new QRadioButton(u"Chapters &after the selected one"_s, this)),
      mStatus(new QLabel(this)), mShift(new QPushButton(u"Shift"_s, this))
{
    setObjectName(u"shiftSheet"_s);
    setWindowTitle(u"Shift Chapters"_s);
    mBy->setObjectName(u"shiftBy"_s);
    mBy->setAccessibleName(u"Shift by"_s);
    mBy->setPlaceholderText(u"+5, -1.5 or -0:02.250"_s);
    mEvery->setObjectName(u"shiftEvery"_s);
    mAfter->setObjectName(u"shiftAfter"_s);
    mShift->setObjectName(u"shiftButton"_s);
    mStatus->setObjectName(u"shiftStatus"_s);
    mStatus->setWordWrap(true);
    mStatus->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* form = new QFormLayout;
    form->addRow(u"Shift &by:"_s, mBy);
    auto* cancel = new QPushButton(u"Cancel"_s, this);
    mShift->setDefault(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    buttons->addButton(mShift, QDialogButtonBox::AcceptRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(mEvery);
    layout->addWidget(mAfter);
    layout->addWidget(mStatus);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(mShift, &QPushButton::clicked, this, [this] {
        if (seconds())
            Q_EMIT shiftAsked();
        else
            showRefusal(u"Type a time in seconds or minutes and seconds, with a minus sign to "
                        "move the chapters earlier: \u201C5\u201D, \u201C-1.5\u201D or "
                        "\u201C-0:02.250\u201D."_s);
    });
}

void ShiftSheet::ask(bool chapterSelected)
{
    mAfter->setEnabled(chapterSelected);
    if (!chapterSelected || !mAfter->isChecked())
        mEvery->setChecked(true);
    mStatus->setText(u"A positive time moves the chapters later, a negative one earlier. The "
                     "book's first chapter stays at its start."_s);
    mBy->selectAll();
    mBy->setFocus();
    open();
}

std::optional<double> ShiftSheet::seconds() const
{
    QString text = mBy->text().trimmed();
    double sign = 1;
    if (text.startsWith(u'-') || text.startsWith(u'\u2212')) {
        sign = -1;
        text.remove(0, 1);
    } else if (text.startsWith(u'+')) {
        text.remove(0, 1);
    }
    const std::optional<double> time = ChapterFile::parsedTime(text.trimmed());
    if (!time || *time == 0)
        return std::nullopt;
    return sign * *time;
}

bool ShiftSheet::afterSelected() const
{
    return mAfter->isEnabled() && mAfter->isChecked();
}

void ShiftSheet::showRefusal(const QString& text)
{
    mStatus->setText(text);
}
