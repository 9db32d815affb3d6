// ChapterTool -x CHAPTERS.xml -a AUDIO.m4a -o OUTPUT.m4b
//
// Writes an audiobook holding the AAC audio as it is, with one chapter per
// <chapter starttime="M:S"><title>…</title></chapter> of the list, as a
// QuickTime chapter track and as Nero chapters, with the M4B brand.
// Exits non-zero with a message on standard error on any failure, and leaves
// no partial output behind.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QXmlStreamReader>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Chapter
{
    qint64 startMs = 0;
    QString title;
};

// Paths removed if the tool is stopped, by the signal handler.
char gPartialOutput[4096] = {};
char gMetadataFile[4096] = {};

void removePartialsAndExit(int signal)
{
    if (gPartialOutput[0] != '\0')
        ::unlink(gPartialOutput);
    if (gMetadataFile[0] != '\0')
        ::unlink(gMetadataFile);
    ::_exit(128 + signal);
}

void remember(char (&slot)[4096], const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() < static_cast<qsizetype>(sizeof slot))
        std::memcpy(slot, bytes.constData(), static_cast<size_t>(bytes.size()) + 1);
}

[[noreturn]] void fail(const QString& message)
{
    if (gPartialOutput[0] != '\0')
        ::unlink(gPartialOutput);
    std::fprintf(stderr, "ChapterTool: %s\n", message.toLocal8Bit().constData());
    std::exit(1);
}

QString findTool(const QString& name)
{
    QString beside = QCoreApplication::applicationDirPath() + u'/' + name;
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(name);
}

std::optional<qint64> startOf(const QString& text)
{
    const QStringList parts = text.split(u':');
    if (parts.size() != 2)
        return std::nullopt;
    bool minutesOk = false;
    bool secondsOk = false;
    const qint64 minutes = parts[0].trimmed().toLongLong(&minutesOk);
    // Whole seconds, or seconds with a fraction ("5.250").
    const QString secondsText = parts[1].trimmed();
    const double seconds = secondsText.toDouble(&secondsOk);
    if (!minutesOk || !secondsOk || minutes < 0 || seconds < 0 ||
        secondsText.contains(u'e', Qt::CaseInsensitive) || secondsText.startsWith(u'+'))
        return std::nullopt;
    return minutes * 60000 + std::llround(seconds * 1000.0);
}

std::vector<Chapter> readChapters(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(u"cannot read the chapter list %1: %2"_s.arg(path, file.errorString()));
    QXmlStreamReader xml(&file);
    std::vector<Chapter> chapters;
    bool sawRoot = false;
    while (xml.readNextStartElement()) {
        if (!sawRoot) {
            if (xml.name() != u"chapters")
                fail(u"%1 is not a chapter list: its root is <%2>"_s.arg(path, xml.name()));
            sawRoot = true;
            continue;
        }
        if (xml.name() != u"chapter") {
            xml.skipCurrentElement();
            continue;
        }
        const QString start = xml.attributes().value(u"starttime"_s).toString();
        const auto startMs = startOf(start);
        if (!startMs)
            fail(
                u"%1: a chapter has the start time \"%2\", not minutes:seconds"_s.arg(path, start));
        Chapter chapter{.startMs = *startMs, .title = {}};
        while (xml.readNextStartElement()) {
            if (xml.name() == u"title")
                chapter.title = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            else
                xml.skipCurrentElement();
        }
        chapters.push_back(chapter);
    }
    if (xml.hasError())
        fail(u"the chapter list %1 is not well-formed: %2 (line %3)"_s.arg(path, xml.errorString())
                 .arg(xml.lineNumber()));
    if (!sawRoot)
        fail(u"the chapter list %1 is empty"_s.arg(path));
    return chapters;
}

QString metadataValue(QString text)
{
    // FFMETADATA escapes these with a backslash; a line end would end the value.
    QString escaped;
    for (const QChar c : text.replace(u'\n', u' ').replace(u'\r', u' ')) {
        if (c == u'=' || c == u';' || c == u'#' || c == u'\\')
            escaped += u'\\';
        escaped += c;
    }
    return escaped;
}

qint64 durationMs(const QString& ffprobe, const QString& audio)
{
    QProcess probe;
    probe.start(ffprobe, {u"-v"_s, u"error"_s, u"-show_entries"_s, u"format=duration"_s, u"-of"_s,
                          u"default=noprint_wrappers=1:nokey=1"_s, audio});
    if (!probe.waitForFinished(-1) || probe.exitStatus() != QProcess::NormalExit ||
        probe.exitCode() != 0)
        fail(u"cannot read the audio file %1: %2"_s.arg(
            audio, QString::fromLocal8Bit(probe.readAllStandardError()).trimmed()));
    bool ok = false;
    const double seconds =
        QString::fromLatin1(probe.readAllStandardOutput()).trimmed().toDouble(&ok);
    if (!ok)
        fail(u"cannot read the length of the audio file %1"_s.arg(audio));
    return static_cast<qint64>(seconds * 1000.0);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QString listPath;
    QString audioPath;
    QString outputPath;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"-x"_s)
            listPath = args[i + 1];
        else if (args[i] == u"-a"_s)
            audioPath = args[i + 1];
        else if (args[i] == u"-o"_s)
            outputPath = args[i + 1];
    }
    if (listPath.isEmpty() || audioPath.isEmpty() || outputPath.isEmpty()) {
        std::fprintf(stderr, "usage: ChapterTool -x CHAPTERS.xml -a AUDIO.m4a -o OUTPUT.m4b\n");
        return 2;
    }
    const std::vector<Chapter> chapters = readChapters(listPath);
    if (!QFileInfo(audioPath).isFile())
        fail(u"the audio file %1 does not exist"_s.arg(audioPath));
    const QString ffmpeg = findTool(u"ffmpeg"_s);
    const QString ffprobe = findTool(u"ffprobe"_s);
    if (ffmpeg.isEmpty() || ffprobe.isEmpty())
        fail(u"ffmpeg and ffprobe are needed and were not found"_s);
    const qint64 lengthMs = durationMs(ffprobe, audioPath);

    QTemporaryFile metadata(QDir::tempPath() + u"/chaptertool-XXXXXX.txt"_s);
    if (!metadata.open())
        fail(u"cannot write a temporary file: %1"_s.arg(metadata.errorString()));
    remember(gMetadataFile, metadata.fileName());
    QString text = u";FFMETADATA1\n"_s;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const qint64 start = std::min(chapters[i].startMs, lengthMs);
        const qint64 next = i + 1 < chapters.size() ? chapters[i + 1].startMs : lengthMs;
        const qint64 end = std::max(start, std::min(next, lengthMs));
        text +=
            u"[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=%3\n"_s.arg(start).arg(end).arg(
                metadataValue(chapters[i].title));
    }
    metadata.write(text.toUtf8());
    metadata.flush();

    const QFileInfo output(outputPath);
    QTemporaryFile partial(output.absolutePath() + u"/."_s + output.fileName() +
                           u".partial-XXXXXX"_s);
    if (!partial.open())
        fail(u"cannot write to %1: %2"_s.arg(output.absolutePath(), partial.errorString()));
    remember(gPartialOutput, partial.fileName());
    std::signal(SIGTERM, removePartialsAndExit);
    std::signal(SIGINT, removePartialsAndExit);
    std::signal(SIGHUP, removePartialsAndExit);
    partial.close();

    QProcess mux;
    mux.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mux.start(ffmpeg, {u"-nostdin"_s,
                       u"-hide_banner"_s,
                       u"-loglevel"_s,
                       u"error"_s,
                       u"-y"_s,
                       u"-i"_s,
                       audioPath,
                       u"-i"_s,
                       metadata.fileName(),
                       u"-map"_s,
                       u"0:a"_s,
                       u"-map_metadata"_s,
                       u"0"_s,
                       u"-map_chapters"_s,
                       u"1"_s,
                       u"-c"_s,
                       u"copy"_s,
                       u"-f"_s,
                       u"mp4"_s,
                       u"-brand"_s,
                       u"M4B "_s,
                       partial.fileName()});
    if (!mux.waitForFinished(-1) || mux.exitStatus() != QProcess::NormalExit || mux.exitCode() != 0)
        fail(u"ffmpeg could not write %1"_s.arg(outputPath));
    if (::rename(QFile::encodeName(partial.fileName()).constData(),
                 QFile::encodeName(outputPath).constData()) != 0)
        fail(
            u"cannot write %1: %2"_s.arg(outputPath, QString::fromLocal8Bit(std::strerror(errno))));
    partial.setAutoRemove(false);
    gPartialOutput[0] = '\0';
    return 0;
}
