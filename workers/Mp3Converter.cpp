#include "Mp3Converter.h"

#include "ConverterProgress.h"
#include "Mp3Helper.h"
#include "Resources.h"
#include "ShellQuote.h"

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
    mFfmpegLength = Mp3Helper::getUnixTimeOfMP3(mInputFile);
    // Progress is read to the end of the tool's output, so all of it is told
    // before the end of the run.
    mRunner.start({.command = command(),
                   .output = ToolOutput::StderrStreamed,
                   .tool = "ffmpeg",
                   .readOutput = [this](ToolProcess& process) { checkProgressFromStdin(process); },
                   .finished =
                       [this](const std::exception_ptr& failure) {
                           if (mDelegate)
                               mDelegate->mp3ConverterDidFinish(this, failure);
                       }});
}

void Mp3Converter::terminateConvert()
{
    mRunner.terminate();
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
