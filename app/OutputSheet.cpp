#include "OutputSheet.h"

#include "DraftBook.h"
#include "SheetDialog.h"
#include "ui_OutputWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {
// The encodings in the order the sheet offers them.
constexpr BookFormat kFormats[] = {BookFormat::AacBookmark, BookFormat::AacStandard,
                                   BookFormat::Mp3};
constexpr EvenVolume kLevels[] = {EvenVolume::Off, EvenVolume::WholeBook, EvenVolume::EachFile};
} // namespace

OutputSheet::OutputSheet(QMainWindow* window, const DraftBook& book, QObject* parent)
    : QObject(parent), mBook(book), mUi(std::make_unique<Ui::OutputWindow>()),
      mSheet(new SheetDialog(window))
{
    mUi->setupUi(mSheet);
    mUi->outputEncoding->addItems({u"AAC Bookmark (.m4b audiobook with chapters)"_s,
                                   u"AAC Standard (.m4a)"_s,
                                   u"MP3 (the files joined as they are)"_s});
    mUi->outputRate->addItems({u"Same as source"_s, u"32k"_s, u"48k"_s, u"64k"_s, u"96k"_s,
                               u"128k"_s, u"192k"_s, u"256k"_s});
    mUi->outputRate->setCurrentText(u"64k"_s);
    mUi->outputFrequency->addItems({u"Same as source"_s, u"22050"_s, u"44100"_s, u"48000"_s});
    mUi->outputFrequency->setCurrentText(u"44100"_s);
    mUi->outputChannels->addItems({u"Mono"_s, u"Stereo"_s});
    mUi->outputEvenVolume->addItems({u"Off"_s, u"Whole Book"_s, u"Each File"_s});
    connect(mUi->outputEncoding, &QComboBox::currentIndexChanged, this, [this] {
        followChoices();
        showChapterNote();
    });
    connect(mUi->outputEvenVolume, &QComboBox::currentIndexChanged, this,
            [this] { followChoices(); });
    followChoices();
}

OutputSheet::~OutputSheet() = default;

QLineEdit* OutputSheet::name() const
{
    return mUi->outputName;
}

QComboBox* OutputSheet::rate() const
{
    return mUi->outputRate;
}

QPushButton* OutputSheet::start() const
{
    return mUi->outputStart;
}

QPushButton* OutputSheet::cancel() const
{
    return mUi->outputCancel;
}

OutputSettings OutputSheet::settings(int encoders) const
{
    const auto chosen = [](const QComboBox* box) {
        return box->currentIndex() <= 0 ? std::nullopt : std::optional(box->currentText());
    };
    return {.format = kFormats[std::clamp(mUi->outputEncoding->currentIndex(), 0, 2)],
            .bitRate = chosen(mUi->outputRate),
            .sampleRate = chosen(mUi->outputFrequency),
            .mono = mUi->outputChannels->currentIndex() == 0,
            .evenVolume = kLevels[std::clamp(mUi->outputEvenVolume->currentIndex(), 0, 2)],
            .outputName = mUi->outputName->text(),
            .encoders = encoders};
}

std::optional<int> OutputSheet::kbps() const
{
    const QString rate = mUi->outputRate->currentText();
    const int kbps = QStringView(rate).left(rate.indexOf(u'k')).toInt();
    return mUi->outputRate->currentIndex() > 0 && kbps > 0 ? std::optional(kbps) : std::nullopt;
}

// Bit rate, sample rate and channels only matter when the audio is
// encoded: for an AAC book, or a levelled one.
void OutputSheet::followChoices()
{
    const OutputSettings chosen = settings(0);
    const bool levels = chosen.evenVolume != EvenVolume::Off;
    const bool encodes = chosen.format != BookFormat::Mp3 || levels;
    mUi->outputEvenVolumeNote->setVisible(levels);
    mUi->outputEvenVolumeNote->setText(
        levels ? u"Even Volume measures every file and brings the book to -18 LUFS, its peaks "
                 u"below -1.5 dBTP. It encodes every file: MP3 files are not joined as they "
                 u"are, and AAC files are not copied."_s
               : QString());
    for (QWidget* w : {static_cast<QWidget*>(mUi->outputRate),
                       static_cast<QWidget*>(mUi->outputFrequency),
                       static_cast<QWidget*>(mUi->outputChannels)})
        w->setEnabled(encodes);
}

void OutputSheet::showChapterNote()
{
    const int proposals = mBook.proposalCount();
    const auto chapters = mBook.chapters().size() - proposals;
    QStringList notes;
    // The Nero list, which some players read instead of the chapter track, holds 255.
    if (chapters > 255 && settings(0).format == BookFormat::AacBookmark)
        notes << u"This book has %1 chapters. All of them are in the book, but some players "
                 "show only the first 255."_s.arg(chapters);
    if (proposals > 0)
        notes << (proposals == 1 ? u"1 proposed chapter start is not taken, and will not be a "
                                   "chapter."_s
                                 : u"%1 proposed chapter starts are not taken, and will not be "
                                   "chapters."_s.arg(proposals));
    QLabel* note = mUi->outputChapterNote;
    note->setText(notes.join(u' '));
    note->setVisible(!notes.isEmpty());
}
