// What the list tells before a run (each file's length, the book's total
// and size) and the progress that the window title shows during one.
#include "AppController.h"
#include "AudioKind.h"
#include "AudioProbe.h"
#include "CueSheet.h"
#include "ItemTableModel.h"
#include "DecodedLength.h"
#include "Mp3Frames.h"
#include "Mp3Helper.h"
#include "Mp4AudioTrack.h"
#include "SheetDialog.h"

#include <QComboBox>
#include <QFutureWatcher>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QProgressBar>
#include <QTimer>
#include <QtConcurrent>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

// Two significant figures: the container and the encoder make the last ones a guess.
QString AppController::roundedSize(double bytes)
{
    if (bytes < 1000)
        return QLocale::c().formattedDataSize(static_cast<qint64>(std::max(0.0, bytes)), 0,
                                              QLocale::DataSizeSIFormat);
    const double exponent = std::floor(std::log10(bytes));
    const double step = std::pow(10.0, exponent - 1);
    const double rounded = std::round(bytes / step) * step;
    const double inUnits = rounded / std::pow(1000.0, std::floor(exponent / 3));
    return QLocale::c().formattedDataSize(static_cast<qint64>(rounded), inUnits < 10 ? 1 : 0,
                                          QLocale::DataSizeSIFormat);
}

namespace {
// The file's AAC audio when a book could take its frames as they are. A
// track whose frames are not all in the file was cut short: that is the
// file's problem, which its length alone would hide.
std::optional<ItemRecord::CopyableAac> copyableAac(const QString& path, QString& problem)
{
    try {
        const Mp4AudioTrack track = Mp4AudioTrack::read(path);
        return ItemRecord::CopyableAac{.audioConfig = track.audioConfig, .channels = track.channels};
    } catch (const Mp4AudioTrack::CutShort& e) {
        const double rate = e.sampleRate;
        if (problem.isEmpty() && rate > 0)
            problem = ItemRecord::cutShortProblem(static_cast<double>(e.presentSamples) / rate,
                                                  static_cast<double>(e.promisedSamples) / rate);
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
} // namespace

void AppController::readDetails(const QString& path)
{
    struct Details
    {
        QString bitrate;
        QString frequency;
        QString problem;
        std::optional<double> length;
        SourceTags tags;
        QList<ItemRecord::InnerChapter> chapters;
        std::optional<ItemRecord::CopyableAac> aac;
        QString chapterNote;
    };
    auto* watcher = new QFutureWatcher<Details>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        const Details details = watcher->result();
        // A row moved meanwhile is a new record of the same file.
        for (qsizetype row = 0; row < TableData.size(); ++row) {
            ItemRecord& record = *TableData.at(row);
            if (record.lengthRead || record.pathColumn != path)
                continue;
            record.bitrateColumn = details.bitrate;
            record.sampleFrequencyColumn = details.frequency;
            // A check of the files at the start of a run may have come first.
            if (record.problem.isEmpty())
                record.problem = details.problem;
            record.lengthColumn = details.length;
            record.tags = details.tags;
            record.innerChapters = details.chapters;
            record.chapterNote = details.chapterNote;
            record.copyableAac = details.aac;
            record.lengthRead = true;
            mTableModel->recordChanged(static_cast<int>(row));
        }
        if (mBook && !mBook->tagsRead && bookIsOpen() && TableData.first()->lengthRead) {
            mBook->tagsRead = true;
            fillTagSheetFromBook(*TableData.first());
        }
        // Many files end at once: the line below the list says it once.
        if (!std::exchange(mSummaryScheduled, true))
            QTimer::singleShot(0, this, [this] {
                mSummaryScheduled = false;
                showListSummary();
                // Once every file's tags are in, an untouched tag sheet takes the book's.
                const bool allRead = mFilesToAdd.empty() &&
                                     std::all_of(TableData.begin(), TableData.end(),
                                                 [](const ItemRecordPtr& r) { return r->lengthRead; });
                if (allRead && tagSheetIsEmpty())
                    fillTagSheet();
                if (allRead)
                    offerChapterFile();
            });
    });
    // mp3info runs twice for each file, counting the frames of a long file
    // without an Info frame reads all of it, and a tag may hold a large cover.
    watcher->setFuture(QtConcurrent::run(mReaders, [path] {
        Details details;
        ChapterMarks marks;
        if (AudioKind::isOther(path)) {
            const AudioProbe probe = AudioProbe::probe(path);
            const bool decodes = probe.problem.isEmpty();
            details.problem = probe.problem;
            details.aac = probe.codec == u"aac"_s ? copyableAac(path, details.problem) : std::nullopt;
            details.bitrate = probe.bitRate > 0 ? QString::number(probe.bitRate / 1000) : QString();
            details.frequency = decodes ? QString::number(probe.sampleRate) : QString();
            details.length = decodes && probe.seconds > 0 ? std::optional(probe.seconds) : std::nullopt;
            details.tags = SourceTags::read(path);
            marks = probe.chapters;
        } else {
            details.bitrate = Mp3Helper::getBitrateOfMP3(path).value_or(QString());
            details.frequency = Mp3Helper::getSampleFrequencyOfMP3(path).value_or(QString());
            details.problem = problemText(Mp3Frames::check(path));
            details.tags = SourceTags::read(path);
            if (const auto frames = Mp3Frames::measure(path);
                frames && DecodedLength::alone(*frames) > 0)
                details.length =
                    static_cast<double>(DecodedLength::alone(*frames)) / frames->sampleRate;
            marks = details.tags.marks;
        }
        // A file's own marks first; a CUE sheet beside it where it has none.
        if (marks.size() < 2)
            marks = CueSheet::marksBeside(path);
        details.chapters = ItemRecord::chaptersFromMarks(marks, details.length, details.chapterNote);
        return details;
    }));
}

void AppController::showListSummary()
{
    double seconds = 0;
    bool reading = !mFilesToAdd.empty();
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        seconds += record->lengthColumn.value_or(0);
        reading = reading || !record->lengthRead;
    }
    const qsizetype count = TableData.size();
    if (count == 0) {
        listSummary->setText(u"No files"_s);
        return;
    }
    QString text = (count == 1 ? u"1 file"_s : u"%1 files"_s.arg(count)) + u" \u00b7 "_s +
                   ItemRecord::formatLength(seconds);
    if (reading) {
        text += u" so far, reading lengths\u2026"_s;
    } else {
        // ffmpeg's bit rate is the whole stream's, whatever the channels.
        QString rate = outputRate->currentText();
        if (rate.contains(u"Same"_s))
            rate = TableData.first()->bitrateColumn;
        bool isNumber = false;
        const int kbps = QStringView(rate).left(rate.indexOf(u'k')).toInt(&isNumber);
        if (isNumber && kbps > 0 && seconds > 0)
            text += u" \u00b7 about %1 as AAC"_s.arg(roundedSize(seconds * kbps * 1000 / 8));
    }
    if (bookIsOpen() && !mBook->savedNote.isEmpty())
        text = mBook->savedNote + u" \u00b7 "_s + text;
    else if (bookIsOpen() && !reading)
        text += u" \u00b7 opened as a book: Save Book (Ctrl+S) writes its chapters and tags "
                "into it"_s;
    listSummary->setText(text);
}

void AppController::showProgressInTitle()
{
    const int span = joinProgressIndicator->maximum() - joinProgressIndicator->minimum();
    if (!joinProgressWindow->isVisible() || span <= 0) {
        mainWindow->setWindowTitle(bookIsOpen() ? QFileInfo(mBook->path).fileName() +
                                                      u" \u2014 Fablewick"_s
                                                : u"Fablewick"_s);
        return;
    }
    const int percent =
        (joinProgressIndicator->value() - joinProgressIndicator->minimum()) * 100 / span;
    mainWindow->setWindowTitle(u"Fablewick \u2014 %1 %"_s.arg(percent));
}
