#include "Mp3Converter.h"

#include "ConverterProgress.h"
#include "Mp3Helper.h"
#include "Resources.h"
#include "ShellQuote.h"

#include <thread>

using namespace Qt::Literals::StringLiterals;

Mp3Converter::~Mp3Converter()
{
    terminateConvert();
}

QString Mp3Converter::command() const
{
    const QString tool = Resources::pathForResource(u"ffmpeg"_s, QString()).value_or(QString());
    const QString output = mOutputFolder + u'/' + mOutputFile + u".m4a"_s;
    return ShellQuote::single(tool) + u" -i "_s + ShellQuote::single(mInputFile) +
           u" -vn -y -ab "_s + mFfmpegOptions.value(u"bitrate"_s) + u" -acodec aac -ac "_s +
           mFfmpegOptions.value(u"channels"_s) + u" -ar "_s +
           mFfmpegOptions.value(u"sampleFrequency"_s) + u" -map_metadata 0 "_s +
           ShellQuote::single(output);
}

void Mp3Converter::startConvert()
{
    ffmpeg.arm();
    mFfmpegLength = Mp3Helper::getUnixTimeOfMP3(mInputFile);
    mThread.start([this, command = command()] { runFfmpeg(command); });
}

void Mp3Converter::terminateConvert()
{
    ffmpeg.terminateIfRunning();
}

void Mp3Converter::runFfmpeg(const QString& command)
{
    std::exception_ptr failure;
    try {
        auto process = std::make_shared<ToolProcess>(command);
        ffmpeg.hold(process);
        process->launch(ToolOutput::StderrStreamed);
        // Progress is read while the tool runs; all of it is told before the end.
        std::thread reader([this, process] { checkProgressFromStdin(*process); });
        process->waitUntilExit();
        reader.join();
        ffmpeg.checkEnd(*process, "ffmpeg");
    } catch (const std::exception&) {
        failure = std::current_exception();
    }
    ffmpeg.release();
    if (mDelegate)
        mDelegate->mp3ConverterDidFinish(this, failure);
}

void Mp3Converter::checkProgressFromStdin(ToolProcess& process)
{
    ConverterProgress parser(mFfmpegLength);
    for (QByteArray chunk = process.readChunk(); !chunk.isEmpty(); chunk = process.readChunk()) {
        if (const auto report = parser.feed(chunk); report && mDelegate)
            mDelegate->mp3ConverterProgress(report->position, report->description);
    }
    if (const auto report = parser.finish(); report && mDelegate)
        mDelegate->mp3ConverterProgress(report->position, report->description);
}
