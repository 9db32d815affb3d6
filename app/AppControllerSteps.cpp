// The conversion, chapter and tagging steps of a run, and the reports of
// their workers, which arrive on the workers' own threads.
#include "AppController.h"
#include "ArtworkWell.h"
#include "ChapterList.h"
#include "Mp3Helper.h"
#include "SheetDialog.h"

#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

bool isPlainNumber(const QString& text)
{
    if (text.isEmpty())
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// JPEG has no transparency: transparent parts of the cover become white.
QByteArray jpeg(const QImage& image)
{
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    flat.save(&buffer, "JPG", 90);
    return bytes;
}

bool writeJpeg(const QImage& image, const QString& path)
{
    const QByteArray bytes = jpeg(image);
    QSaveFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           file.commit();
}

} // namespace

// A report is handled from the event loop, also when it comes from the GUI
// thread itself, so that a step never starts inside the end of another.
void AppController::onMainThread(std::function<void()> handler)
{
    QMetaObject::invokeMethod(this, std::move(handler), Qt::QueuedConnection);
}

// The encoder's options. A "Same as source" rate is the source's kbit/s as
// ffmpeg reads it (128 is 128k); what mp3info cannot give as a number (a
// variable bit rate, an unreadable file) falls back to 128k and 44100 Hz.
EncoderOptions AppController::ffmpegFindOption(const QString& path) const
{
    EncoderOptions options;
    const QString bitrate = Mp3Helper::getBitrateOfMP3(path).value_or(QString());
    const QString frequency = Mp3Helper::getSampleFrequencyOfMP3(path).value_or(QString());
    const QString rateTitle = outputRate->currentText();
    if (rateTitle.contains(u"Same"_s))
        options.insert(u"bitrate"_s, isPlainNumber(bitrate) ? bitrate + u'k' : u"128k"_s);
    else
        options.insert(u"bitrate"_s, rateTitle);
    const QString frequencyTitle = outputFrequency->currentText();
    if (frequencyTitle.contains(u"Same"_s))
        options.insert(u"sampleFrequency"_s, isPlainNumber(frequency) ? frequency : u"44100"_s);
    else
        options.insert(u"sampleFrequency"_s, frequencyTitle);
    options.insert(u"channels"_s,
                   outputChannels->currentText().contains(u"Mono"_s) ? u"1"_s : u"2"_s);
    return options;
}

void AppController::doConversion(const QString& path)
{
    theMp3Converter->setFfmpegOptions(ffmpegFindOption(path));
    theMp3Converter->setOutputFolder(tempFolder.value_or(QString()));
    theMp3Converter->setOutputFile(u"m4a"_s);
    theMp3Converter->setOutputAuthor(artist->text());
    theMp3Converter->setOutputTitle(title->text());
    theMp3Converter->setInputFile(path);
    // The files joined, each as a decoder gives it, so that the book holds
    // their audio and nothing of their tags or encoders' padding.
    const ItemList& records = theMp3Joiner->joinFiles();
    const qint32 seconds = Mp3Helper::getUnixTimeOfMP3(path);
    QList<Mp3Converter::Source> sources;
    if (ChapterList::hasExactLengths(records)) {
        for (const ItemRecordPtr& record : records)
            sources.append({.path = record->symbolicPath.value_or(record->pathColumn),
                            .samples = record->exact->samples,
                            .sampleRate = record->exact->sampleRate});
    }
    theMp3Converter->setSourceFiles(sources);
    theMp3Converter->setDelegate(this);
    const double exact = theMp3Converter->exactSeconds();
    joinProgressIndicator->setMaximum(exact > 0 ? static_cast<int>(std::ceil(exact)) : seconds);
    joinProgressIndicator->setValue(0);
    mState = RunState::Converting;
    stopConvertingButton->setVisible(true);
    expectReportFrom(theMp3Converter.get());
    theMp3Converter->startConvert();
}

void AppController::doChapter(const QString& path)
{
    theChapterWriter->setOutputFolder(tempFolder.value_or(QString()));
    theChapterWriter->setOutputFile(u"m4b"_s);
    theChapterWriter->setOutputAuthor(artist->text());
    theChapterWriter->setOutputTitle(title->text());
    theChapterWriter->setAudioFilePath(path);
    // The chapters are those of the files joined; files listed since wait for the next run.
    theChapterWriter->setViewFiles(theMp3Joiner->joinFiles());
    theChapterWriter->setDelegate(this);
    mState = RunState::WritingChapters;
    joinProgressDescription->setText(u"Writing Bookmarks.."_s);
    joinProgressIndicator->setRange(0, 0);
    stopConvertingButton->setVisible(true);
    expectReportFrom(theChapterWriter.get());
    theChapterWriter->startChapter();
}

void AppController::doTagging(const QString& input, const QString& outputFile)
{
    theM4bTagger->setArtist(artist->text());
    theM4bTagger->setTitle(title->text());
    theM4bTagger->setAlbum(album->text());
    theM4bTagger->setAlbumArtist(albumArtist->text());
    theM4bTagger->setComment(comment->text());
    theM4bTagger->setNarrator(narrator->text());
    theM4bTagger->setYear(year->text());
    theM4bTagger->setDescription(bookDescription->toPlainText());
    theM4bTagger->setSeries(series->text(), seriesNumber->text());
    theM4bTagger->setAudiobook(QFileInfo(outputFile).suffix() == u"m4b"_s);
    theM4bTagger->setDelegate(this);
    if (!artwork->image().isNull()) {
        const QString art = inTempFolder(u"art1.jpg"_s);
        writeJpeg(artwork->image(), art);
        theM4bTagger->setArtwork(art);
    } else {
        theM4bTagger->setArtwork(QString());
    }
    theM4bTagger->setInputPath(input);
    theM4bTagger->setOutputPath(outputFile);
    joinProgressDescription->setText(u"Creating iTunes tags.."_s);
    joinProgressIndicator->setRange(0, 0);
    mState = RunState::Tagging;
    expectReportFrom(theM4bTagger.get());
    theM4bTagger->startTagging();
}

void AppController::doMp3Tagging(const QString& input, const QString& outputFile)
{
    BookTag tag{.title = title->text(),
                .artist = artist->text(),
                .album = album->text(),
                .albumArtist = albumArtist->text(),
                .comment = comment->text(),
                .narrator = narrator->text(),
                .year = year->text(),
                .description = bookDescription->toPlainText(),
                .series = series->text(),
                .seriesNumber = seriesNumber->text(),
                .cover = {},
                .coverMimeType = u"image/jpeg"_s,
                .chapters = ChapterList::mp3Chapters(theMp3Joiner->joinFiles())};
    if (!artwork->image().isNull())
        tag.cover = jpeg(artwork->image());
    theMp3BookTagger->setInputPath(input);
    theMp3BookTagger->setOutputPath(outputFile);
    theMp3BookTagger->setTag(tag);
    joinProgressDescription->setText(u"Writing the tags and chapters.."_s);
    joinProgressIndicator->setRange(0, 0);
    mState = RunState::Tagging;
    expectReportFrom(theMp3BookTagger.get());
    theMp3BookTagger->startTagging([this](Mp3BookTagger* tagger, const std::exception_ptr& failure) {
        onMainThread([this, tagger, failure] { handleMp3TaggerFinished(tagger, failure); });
    });
}

void AppController::handleMp3TaggerFinished(Mp3BookTagger* tagger,
                                            const std::exception_ptr& failure)
{
    if (takeAbandoned(tagger))
        return;
    closeJoin(this);
    if (failure) {
        processDidEndBadly(failure);
        return;
    }
    inProgressTasks();
}

void AppController::mp3ConverterProgress(double position, const QString& description)
{
    onMainThread([this, position, description] { handleConverterProgress(position, description); });
}

void AppController::mp3ConverterDidFinish(Mp3Converter* converter,
                                          std::exception_ptr convertException)
{
    onMainThread([this, converter, convertException] {
        handleConverterFinished(converter, convertException);
    });
}

void AppController::chapterWriterProgress(int, int) {}

void AppController::chapterWriterDidFinish(chapterWriter* writer, std::exception_ptr writeException)
{
    onMainThread(
        [this, writer, writeException] { handleChapterWriterFinished(writer, writeException); });
}

void AppController::M4bTaggerProgress(double value, const QString& description)
{
    onMainThread([this, value, description] { handleTaggerProgress(value, description); });
}

void AppController::M4bTaggerDidFinish(M4bTagger* tagger, std::exception_ptr convertException)
{
    onMainThread(
        [this, tagger, convertException] { handleTaggerFinished(tagger, convertException); });
}

void AppController::handleConverterProgress(double position, const QString& description)
{
    // A late report of a finished or stopped conversion is not shown over a later step.
    if (mState != RunState::Converting || !reportsForCurrentRun(theMp3Converter.get()))
        return;
    joinProgressIndicator->setValue(static_cast<int>(position));
    joinProgressDescription->setText(description);
}

void AppController::handleConverterFinished(Mp3Converter* converter,
                                            const std::exception_ptr& convertException)
{
    if (takeAbandoned(converter))
        return;
    stopConvertingButton->setVisible(false);
    if (convertException) {
        closeJoin(this);
        processDidEndBadly(convertException);
        return;
    }
    inProgressTasks();
}

void AppController::handleChapterWriterFinished(chapterWriter* writer,
                                                const std::exception_ptr& writeException)
{
    if (takeAbandoned(writer))
        return;
    stopConvertingButton->setVisible(true);
    joinProgressIndicator->setRange(0, 100);
    joinProgressIndicator->setValue(0);
    if (writeException) {
        closeJoin(this);
        processDidEndBadly(writeException);
        return;
    }
    inProgressTasks();
}

void AppController::handleTaggerProgress(double value, const QString& description)
{
    if (mState != RunState::Tagging || !reportsForCurrentRun(theM4bTagger.get()))
        return;
    if (joinProgressIndicator->maximum() == 0)
        joinProgressIndicator->setRange(0, 100);
    joinProgressIndicator->setValue(static_cast<int>(value));
    joinProgressDescription->setText(description);
}

void AppController::handleTaggerFinished(M4bTagger* tagger,
                                         const std::exception_ptr& convertException)
{
    if (takeAbandoned(tagger))
        return;
    closeJoin(this);
    if (convertException) {
        processDidEndBadly(convertException);
        return;
    }
    inProgressTasks();
}
