#include "AudioProbe.h"

#include "Resources.h"
#include "ShellQuote.h"
#include "ToolProcess.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::Literals::StringLiterals;

namespace {

AudioProbe failed(const QString& problem)
{
    AudioProbe probe;
    probe.problem = problem;
    return probe;
}

} // namespace

AudioProbe AudioProbe::parse(const QByteArray& json)
{
    AudioProbe result;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    QJsonObject audio;
    for (const QJsonValue stream : root[u"streams"_s].toArray()) {
        if (stream[u"codec_type"_s].toString() == u"audio"_s) {
            audio = stream.toObject();
            break;
        }
    }
    if (audio.isEmpty())
        return failed(u"holds no audio that can be decoded"_s);
    const QJsonObject format = root[u"format"_s].toObject();
    result.codec = audio[u"codec_name"_s].toString();
    result.sampleRate = audio[u"sample_rate"_s].toString().toInt();
    result.channels = audio[u"channels"_s].toInt();
    result.bitRate = audio[u"bit_rate"_s].toString().toLongLong();
    if (result.bitRate <= 0)
        result.bitRate = format[u"bit_rate"_s].toString().toLongLong();
    result.seconds = format[u"duration"_s].toString().toDouble();
    if (result.seconds <= 0)
        result.seconds = audio[u"duration"_s].toString().toDouble();
    if (result.sampleRate <= 0 || result.channels <= 0)
        return failed(u"holds no audio that can be decoded"_s);
    for (const QJsonValue chapter : root[u"chapters"_s].toArray()) {
        result.chapters.append(
            {.start = chapter[u"start_time"_s].toString().toDouble(),
             .title = chapter[u"tags"_s][u"title"_s].toString()});
    }
    return result;
}

AudioProbe AudioProbe::probe(const QString& path)
{
    if (!QFileInfo::exists(path))
        return failed(u"no longer exists"_s);
    const QString tool = Resources::pathForResource(u"ffprobe"_s, QString()).value_or(QString());
    ToolProcess process(ShellQuote::single(tool) +
                        u" -v error -show_streams -show_format -show_chapters -of json "_s +
                        ShellQuote::single(path));
    QByteArray json;
    try {
        process.launch(ToolOutput::WholeStdout);
        json = process.readStdoutToEnd();
        process.waitUntilExit();
    } catch (const std::exception& e) {
        return failed(u"cannot be read: %1"_s.arg(QString::fromStdString(e.what())));
    }
    if (!process.exitedCleanly()) {
        const QString said = QString::fromStdString(process.errorTail()).trimmed();
        const QString last = said.mid(said.lastIndexOf(u'\n') + 1);
        // ffprobe starts its words with the file's name, which the list shows already.
        const QString reason = last.mid(last.indexOf(u": "_s) + 2);
        return failed(reason.isEmpty() ? u"cannot be decoded"_s
                                       : u"cannot be decoded (%1)"_s.arg(reason));
    }
    return parse(json);
}
