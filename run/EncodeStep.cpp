#include "EncodeStep.h"

#include "ChapterList.h"
#include "Mp3Helper.h"
#include "RunChecks.h"

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {
bool isPlainNumber(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}
} // namespace

QString EncodeStep::during() const
{
    return mMp3 ? u"While converting to MP3"_s : u"While converting to AAC"_s;
}

QString EncodeStep::output() const
{
    return mFolder + (mMp3 ? u"/mp3.mp3"_s : u"/m4a.m4a"_s);
}

// A "Same as source" rate is the source's kbit/s as ffmpeg reads it (128 is
// 128k); what mp3info cannot give as a number (a variable bit rate, an
// unreadable file) falls back to 128k and 44100 Hz.
EncoderOptions EncodeStep::ffmpegFindOption(const RunWork& run, const QString& path)
{
    QString bitrate;
    QString frequency;
    if (run.decodes) {
        // Decoded sources have no MP3 to ask: the first source's own rates,
        // but a lossless source's is no rate for a compressed book.
        const QString first =
            run.records.isEmpty() ? QString() : run.records.first()->bitrateColumn;
        bitrate = first.toInt() <= 320 ? first : QString();
        frequency = QString::number(run.decodedRate());
    } else {
        bitrate = Mp3Helper::getBitrateOfMP3(path).value_or(QString());
        frequency = Mp3Helper::getSampleFrequencyOfMP3(path).value_or(QString());
    }
    EncoderOptions options;
    options.insert(u"bitrate"_s,
                   run.request.bitRate.value_or(isPlainNumber(bitrate) ? bitrate + u'k' : u"128k"_s));
    options.insert(u"sampleFrequency"_s,
                   run.request.sampleRate.value_or(isPlainNumber(frequency) ? frequency : u"44100"_s));
    options.insert(u"channels"_s, run.request.mono ? u"1"_s : u"2"_s);
    return options;
}

void EncodeStep::startWorker(RunWork& run, const QString& folder, const QString& input,
                       Reports reports)
{
    mFolder = folder;
    // Decoded sources made into an MP3 book give the file a join would.
    mMp3 = run.request.format == BookFormat::Mp3;
    EncoderOptions options = ffmpegFindOption(run, input);
    if (run.request.evenVolume != EvenVolume::Off && run.encoderGain != 0)
        options.insert(u"gain"_s, QString::number(run.encoderGain, 'f', 2));
    mConverter.setFfmpegOptions(options);
    mConverter.setOutputFolder(folder);
    mConverter.setOutputFile(mMp3 ? u"mp3"_s : u"m4a"_s);
    mConverter.setEncodesMp3(mMp3);
    mConverter.setInputFile(input);
    mConverter.setParallelism(run.request.encoders);
    // The files joined, each as a decoder gives it, so that the book holds
    // their audio and nothing of their tags or encoders' padding.
    QList<Mp3Converter::Source> sources;
    if (ChapterList::hasExactLengths(run.records)) {
        for (const ItemRecordPtr& record : std::as_const(run.records))
            sources.append({.path = record->symbolicPath.value_or(record->pathColumn),
                            .samples = record->exact->samples,
                            .sampleRate = record->exact->sampleRate});
    }
    mConverter.setSourceFiles(sources);
    mConverter.startConvert(std::move(reports));
}

QString EncodeStep::settle(RunWork& run)
{
    return RunChecks::bookShortfall(run, output());
}
