// The conversion, chapter and tagging steps of a run, and the reports of
// their workers, which arrive on the workers' own threads.
#include "AppController.h"
#include "ChapterList.h"
#include "Mp3Helper.h"
#include "SheetDialog.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QFileInfo>
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

bool writeFile(const QByteArray& bytes, const QString& path)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

// JPEG has no transparency: transparent parts of the cover become white.
QByteArray AppController::coverJpeg(const QImage& image)
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

// The encoder's options. A "Same as source" rate is the source's kbit/s as
// ffmpeg reads it (128 is 128k); what mp3info cannot give as a number (a
// variable bit rate, an unreadable file) falls back to 128k and 44100 Hz.
EncoderOptions AppController::ffmpegFindOption(const QString& path) const
{
    QString bitrate;
    QString frequency;
    if (mRun.decodes) {
        // Decoded sources have no MP3 to ask: the first source's own rates,
        // but a lossless source's is no rate for a compressed book.
        const QString first = mRun.records.isEmpty() ? QString()
                                                     : mRun.records.first()->bitrateColumn;
        bitrate = first.toInt() <= 320 ? first : QString();
        frequency = QString::number(decodedRate());
    } else {
        bitrate = Mp3Helper::getBitrateOfMP3(path).value_or(QString());
        frequency = Mp3Helper::getSampleFrequencyOfMP3(path).value_or(QString());
    }
    EncoderOptions options;
    options.insert(u"bitrate"_s, mRun.bitRate.value_or(isPlainNumber(bitrate) ? bitrate + u'k'
                                                                               : u"128k"_s));
    options.insert(u"sampleFrequency"_s,
                   mRun.sampleRate.value_or(isPlainNumber(frequency) ? frequency : u"44100"_s));
    options.insert(u"channels"_s, mRun.mono ? u"1"_s : u"2"_s);
    return options;
}

void AppController::doConversion(const QString& path)
{
    theMp3Converter->setFfmpegOptions(ffmpegFindOption(path));
    theMp3Converter->setOutputFolder(tempFolder.value_or(QString()));
    // Decoded sources made into an MP3 book give the file a join would.
    const bool mp3 = mRun.format == BookFormat::Mp3;
    theMp3Converter->setOutputFile(mp3 ? u"mp3"_s : u"m4a"_s);
    theMp3Converter->setEncodesMp3(mp3);
    theMp3Converter->setOutputAuthor(mRun.tags.artist);
    theMp3Converter->setOutputTitle(mRun.tags.title);
    theMp3Converter->setInputFile(path);
    // The files joined, each as a decoder gives it, so that the book holds
    // their audio and nothing of their tags or encoders' padding.
    const ItemList& records = mRun.records;
    const qint32 seconds = Mp3Helper::getUnixTimeOfMP3(path);
    QList<Mp3Converter::Source> sources;
    if (ChapterList::hasExactLengths(records)) {
        for (const ItemRecordPtr& record : records)
            sources.append({.path = record->symbolicPath.value_or(record->pathColumn),
                            .samples = record->exact->samples,
                            .sampleRate = record->exact->sampleRate});
    }
    theMp3Converter->setSourceFiles(sources);
    theMp3Converter->setDelegate(mReporters.back().get());
    const double exact = theMp3Converter->exactSeconds();
    joinProgressIndicator->setMaximum(exact > 0 ? static_cast<int>(std::ceil(exact)) : seconds);
    joinProgressIndicator->setValue(0);
    mState = RunState::Converting;
    stopConvertingButton->setVisible(true);
    theMp3Converter->startConvert();
}

void AppController::doChapter(const QString& path)
{
    theChapterWriter->setOutputFolder(tempFolder.value_or(QString()));
    theChapterWriter->setOutputFile(u"m4b"_s);
    theChapterWriter->setOutputAuthor(mRun.tags.artist);
    theChapterWriter->setOutputTitle(mRun.tags.title);
    theChapterWriter->setAudioFilePath(path);
    // The chapters are those of the files joined; files listed since wait for the next run.
    theChapterWriter->setViewFiles(mRun.records);
    theChapterWriter->setDelegate(mReporters.back().get());
    mState = RunState::WritingChapters;
    joinProgressDescription->setText(u"Writing Bookmarks.."_s);
    joinProgressIndicator->setRange(0, 0);
    stopConvertingButton->setVisible(true);
    theChapterWriter->startChapter();
}

void AppController::doTagging(const QString& input, const QString& outputFile)
{
    const BookTag& tags = mRun.tags;
    theM4bTagger->setArtist(tags.artist);
    theM4bTagger->setTitle(tags.title);
    theM4bTagger->setAlbum(tags.album);
    theM4bTagger->setAlbumArtist(tags.albumArtist);
    theM4bTagger->setComment(tags.comment);
    theM4bTagger->setNarrator(tags.narrator);
    theM4bTagger->setYear(tags.year);
    theM4bTagger->setDescription(tags.description);
    theM4bTagger->setSeries(tags.series, tags.seriesNumber);
    theM4bTagger->setAudiobook(QFileInfo(outputFile).suffix() == u"m4b"_s);
    theM4bTagger->setDelegate(mReporters.back().get());
    if (!tags.cover.isEmpty()) {
        const QString art = inTempFolder(u"art1.jpg"_s);
        writeFile(tags.cover, art);
        theM4bTagger->setArtwork(art);
    } else {
        theM4bTagger->setArtwork(QString());
    }
    theM4bTagger->setInputPath(input);
    theM4bTagger->setOutputPath(outputFile);
    joinProgressDescription->setText(u"Creating iTunes tags.."_s);
    joinProgressIndicator->setRange(0, 0);
    mState = RunState::Tagging;
    theM4bTagger->startTagging();
}

void AppController::doMp3Tagging(const QString& input, const QString& outputFile)
{
    BookTag tag = mRun.tags;
    tag.chapters = ChapterList::mp3Chapters(mRun.records);
    theMp3BookTagger->setInputPath(input);
    theMp3BookTagger->setOutputPath(outputFile);
    theMp3BookTagger->setTag(tag);
    joinProgressDescription->setText(u"Writing the tags and chapters.."_s);
    joinProgressIndicator->setRange(0, 0);
    mState = RunState::Tagging;
    const RunReporter* reporter = mReporters.back().get();
    theMp3BookTagger->startTagging([reporter](Mp3BookTagger*, const std::exception_ptr& failure) {
        reporter->deliver([failure](AppController& c) { c.mp3BookTaggerDidFinish(failure); });
    });
}

// The workers' reports, carried to the GUI thread by the run's reporter and
// only while their run is the current one.
void AppController::mp3BookTaggerDidFinish(const std::exception_ptr& failure)
{
    closeJoin(this);
    if (failure) {
        processDidEndBadly(failure);
        return;
    }
    inProgressTasks();
}

void AppController::mp3ConverterProgress(double position, const QString& description)
{
    // A late report of a finished conversion is not shown over a later step.
    if (mState != RunState::Converting)
        return;
    joinProgressIndicator->setValue(static_cast<int>(position));
    joinProgressDescription->setText(description);
}

void AppController::mp3ConverterDidFinish(Mp3Converter*, const std::exception_ptr& convertException)
{
    stopConvertingButton->setVisible(false);
    if (convertException) {
        closeJoin(this);
        processDidEndBadly(convertException);
        return;
    }
    inProgressTasks();
}

void AppController::chapterWriterProgress(int, int) {}

void AppController::chapterWriterDidFinish(chapterWriter*, const std::exception_ptr& writeException)
{
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

void AppController::M4bTaggerProgress(double value, const QString& description)
{
    if (mState != RunState::Tagging)
        return;
    if (joinProgressIndicator->maximum() == 0)
        joinProgressIndicator->setRange(0, 100);
    joinProgressIndicator->setValue(static_cast<int>(value));
    joinProgressDescription->setText(description);
}

void AppController::M4bTaggerDidFinish(M4bTagger*, const std::exception_ptr& convertException)
{
    closeJoin(this);
    if (convertException) {
        processDidEndBadly(convertException);
        return;
    }
    inProgressTasks();
}
