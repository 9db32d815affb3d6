#include "Mp3Helper.h"

#include "LeadingNumber.h"
#include "Resources.h"
#include "ShellQuote.h"
#include "ToolProcess.h"
#include "WorkerException.h"

#include <QStringList>

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<QString> asciiText(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return std::nullopt;
    }
    return QString::fromLatin1(bytes);
}

std::optional<QString> runQuery(const QString& format, const QString& path)
{
    ToolProcess process(Mp3Helper::queryCommand(format, path));
    try {
        process.launch(ToolOutput::WholeStdout);
    } catch (const WorkerException&) {
        return QString();
    }
    const QByteArray output = process.readStdoutToEnd();
    process.waitUntilExit();
    return asciiText(output);
}

} // namespace

QString Mp3Helper::queryCommand(const QString& format, const QString& path)
{
    const QString tool = Resources::pathForResource(u"mp3info"_s, QString()).value_or(QString());
    return ShellQuote::single(tool) + u" -p "_s + ShellQuote::single(format) + u' ' +
           ShellQuote::single(path);
}

std::optional<QString> Mp3Helper::getBitrateOfMP3(const QString& path)
{
    return runQuery(u"%r"_s, path);
}

std::optional<QString> Mp3Helper::getSampleFrequencyOfMP3(const QString& path)
{
    return runQuery(u"%Q"_s, path);
}

Mp3Helper::Rates Mp3Helper::getRatesOfMP3(const QString& path)
{
    const QStringList pieces =
        runQuery(u"%r_SPLIT_%Q"_s, path).value_or(QString()).split(u"_SPLIT_"_s);
    if (pieces.size() != 2)
        return {};
    return {.bitrate = pieces.at(0), .sampleFrequency = pieces.at(1)};
}

Mp3Time Mp3Helper::getTimeOfMP3(const QString& path)
{
    const std::optional<QString> text = runQuery(u"%m_SPLIT_%s"_s, path);
    const QStringList pieces = text ? text->split(u"_SPLIT_"_s) : QStringList{};
    if (pieces.size() < 2)
        throw WorkerException("cannot read the playing time of " + path.toStdString());
    return Mp3Time{.mins = pieces.at(0), .secs = pieces.at(1)};
}

qint32 Mp3Helper::getUnixTimeOfMP3(const QString& path)
{
    return leadingIntValue(runQuery(u"%S"_s, path).value_or(QString()));
}
