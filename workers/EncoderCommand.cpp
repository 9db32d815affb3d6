#include "EncoderCommand.h"

#include "ShellQuote.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace EncoderCommand {

namespace {

QString inputArguments(const Input& input)
{
    return (input.isList ? u"-f concat -safe 0 -i "_s : u"-i "_s) + ShellQuote::single(input.path);
}

// A levelled book's last correction, for what its encoder takes away; none
// unless the options carry one. It is a fraction of a decibel, which the
// room below the limiter's ceiling holds.
QString gainFilter(const EncoderOptions& options)
{
    const QString gain = options.value(u"gain"_s);
    return gain.isEmpty() ? QString() : u"volume="_s + gain + u"dB"_s;
}

} // namespace

QString whole(const QString& tool, const Input& input, const EncoderOptions& options,
              const QString& output, bool mp3)
{
    // The concat demuxer times each file by its own guess of its length;
    // counted from the samples, the book has no gaps.
    QStringList filters;
    if (input.isList)
        filters << u"asetpts=N/SR/TB"_s;
    if (const QString gain = gainFilter(options); !gain.isEmpty())
        filters << gain;
    return ShellQuote::single(tool) + u' ' + inputArguments(input) + u" -vn -y"_s +
           (filters.isEmpty() ? QString() : u" -af "_s + filters.join(u',')) + u" -ab "_s +
           options.value(u"bitrate"_s) +
           (mp3 ? u" -acodec libmp3lame -ac "_s : u" -acodec aac -ac "_s) +
           options.value(u"channels"_s) + u" -ar "_s + options.value(u"sampleFrequency"_s) +
           u" -map_metadata -1 "_s + ShellQuote::single(output);
}

QString part(const QString& tool, const Input& input, const EncoderOptions& options,
             const EncodePart& part, int outputRate, const QString& output)
{
    const QString rate = QString::number(outputRate);
    const qint64 origin = part.readFrom + part.seekSeconds * outputRate;
    QString filters = u"asetpts=N/SR/TB,aresample=%1,atrim=start_sample=%2"_s.arg(rate).arg(
        part.encodeFrom - origin);
    if (part.encodeTo >= 0)
        filters += u":end_sample=%1"_s.arg(part.encodeTo - origin);
    filters += u",asetpts=PTS-STARTPTS"_s;
    if (const QString gain = gainFilter(options); !gain.isEmpty())
        filters += u',' + gain;
    const QString seek = part.seekSeconds > 0 ? u"-ss %1 "_s.arg(part.seekSeconds) : QString();
    return ShellQuote::single(tool) + u' ' + seek + inputArguments(input) + u" -vn -y -af "_s +
           filters + u" -ab "_s + options.value(u"bitrate"_s) + u" -acodec aac -ac "_s +
           options.value(u"channels"_s) + u" -ar "_s + rate + u" -f adts "_s +
           ShellQuote::single(output);
}

QByteArray concatList(const QStringList& paths)
{
    QByteArray list = "ffconcat version 1.0\n";
    for (const QString& each : paths) {
        QByteArray path = QFile::encodeName(each);
        path.replace('\'', "'\\''");
        list += "file '" + path + "'\n";
    }
    return list;
}

} // namespace EncoderCommand
