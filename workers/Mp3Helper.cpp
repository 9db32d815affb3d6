#include "Mp3Helper.h"

#include "Resources.h"
#include "ShellQuote.h"
#include "ToolProcess.h"
#include "WorkerException.h"

#include <QStringList>
#include <limits>

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

qint32 leadingIntValue(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max())
            return negative ? std::numeric_limits<qint32>::min()
                            : std::numeric_limits<qint32>::max();
    }
    return static_cast<qint32>(negative ? -value : value);
}
