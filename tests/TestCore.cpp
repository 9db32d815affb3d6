#include "TestCore.h"

#include "Mp3Frames.h"
#include "Resources.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <cmath>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

TestEnvironment::TestEnvironment() : mOldHome(qgetenv("HOME")), mOldTmp(qgetenv("TMPDIR"))
{
    QDir().mkpath(home());
    QDir().mkpath(tmp());
    QDir().mkpath(sources());
    qputenv("HOME", QFile::encodeName(home()));
    qputenv("TMPDIR", QFile::encodeName(tmp()));
    qunsetenv("XDG_DESKTOP_DIR");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home() + u"/.config"_s));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home() + u"/.cache"_s));
    Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
}

TestEnvironment::~TestEnvironment()
{
    qputenv("HOME", mOldHome);
    qputenv("TMPDIR", mOldTmp);
    Resources::setDirectory(QString());
}

bool makeMp3(const QString& path, double seconds, int sampleRate, int channels, int kbps)
{
    // Files differ by their tone, chosen from the path alone so that every run
    // makes the same bytes. Some tones make mp3info read a constant rate as
    // "Variable"; these do not.
    static constexpr int kTones[] = {440, 494, 523, 587, 659, 698, 784, 880};
    const int tone = kTones[qHash(path, 0) % std::size(kTones)];
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(
        QStringLiteral(FABLEWICK_FFMPEG),
        {u"-nostdin"_s, u"-hide_banner"_s, u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
         u"sine=frequency=%1:sample_rate=%2:duration=%3"_s.arg(tone).arg(sampleRate).arg(seconds),
         u"-ac"_s, QString::number(channels), u"-b:a"_s, u"%1k"_s.arg(kbps), u"-y"_s, u"-f"_s,
         u"mp3"_s, path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

bool makeTone(const QString& path, double seconds, int frequency, int sampleRate, int channels,
              const QStringList& encoderOptions)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG),
                 QStringList{u"-nostdin"_s, u"-hide_banner"_s, u"-loglevel"_s, u"error"_s, u"-f"_s,
                             u"lavfi"_s, u"-i"_s,
                             u"sine=frequency=%1:sample_rate=%2:duration=%3"_s.arg(frequency)
                                 .arg(sampleRate)
                                 .arg(seconds),
                             u"-ac"_s, QString::number(channels)} +
                     encoderOptions + QStringList{u"-y"_s, u"-f"_s, u"mp3"_s, path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

bool runTool(const QString& program, const QStringList& arguments)
{
    return toolOutput(program, arguments).has_value();
}

std::optional<QByteArray> toolOutput(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(program, arguments);
    if (!tool.waitForFinished(120000) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

bool makeSource(const QString& path, double seconds, int frequency, int sampleRate, int channels,
                const SourceRecipe& recipe)
{
    const QString ffmpeg = QStringLiteral(FABLEWICK_FFMPEG);
    const QString wav = path + u".wav"_s;
    const QString cover = path + u".cover.jpg"_s;
    const QStringList quiet{u"-nostdin"_s, u"-hide_banner"_s, u"-loglevel"_s, u"error"_s, u"-y"_s};
    bool made = runTool(ffmpeg, quiet + QStringList{u"-f"_s, u"lavfi"_s, u"-i"_s,
                                                u"sine=frequency=%1:sample_rate=%2:duration=%3"_s
                                                    .arg(frequency)
                                                    .arg(sampleRate)
                                                    .arg(seconds),
                                                u"-ac"_s, QString::number(channels), wav});
    if (made && recipe.coverSize > 0)
        made = runTool(ffmpeg, quiet + QStringList{u"-f"_s, u"lavfi"_s, u"-i"_s,
                                               u"testsrc=size=%1x%1:rate=1"_s.arg(recipe.coverSize),
                                               u"-frames:v"_s, u"1"_s, cover});
    if (made && recipe.lame) {
        const QString lame = QStandardPaths::findExecutable(u"lame"_s);
        QStringList arguments{u"--quiet"_s};
        arguments << recipe.options;
        static const QList<std::pair<QString, QString>> kLameOptions{
            {u"title"_s, u"--tt"_s},   {u"artist"_s, u"--ta"_s}, {u"album"_s, u"--tl"_s},
            {u"date"_s, u"--ty"_s},    {u"track"_s, u"--tn"_s},  {u"comment"_s, u"--tc"_s}};
        for (const auto& [key, value] : recipe.tags) {
            for (const auto& [name, option] : kLameOptions) {
                if (name == key)
                    arguments << option << value;
            }
            if (key == u"disc"_s)
                arguments << u"--tv"_s << u"TPOS="_s + value;
            if (key == u"composer"_s)
                arguments << u"--tv"_s << u"TCOM="_s + value;
            if (key == u"album_artist"_s)
                arguments << u"--tv"_s << u"TPE2="_s + value;
        }
        if (recipe.coverSize > 0)
            arguments << u"--ti"_s << cover;
        if (!recipe.id3v1)
            arguments << u"--id3v2-only"_s;
        made = !lame.isEmpty() && runTool(lame, arguments << wav << path);
    } else if (made) {
        QStringList arguments = quiet + QStringList{u"-i"_s, wav};
        if (recipe.coverSize > 0)
            arguments << u"-i"_s << cover << u"-map"_s << u"0"_s << u"-map"_s << u"1"_s
                      << u"-c:v"_s << u"copy"_s << u"-metadata:s:v"_s
                      << u"comment=Cover (front)"_s;
        arguments << u"-c:a"_s << u"libmp3lame"_s << recipe.options;
        if (recipe.id3Version == 0)
            arguments << u"-id3v2_version"_s << u"0"_s;
        else
            arguments << u"-id3v2_version"_s << QString::number(recipe.id3Version);
        if (recipe.id3v1)
            arguments << u"-write_id3v1"_s << u"1"_s;
        for (const auto& [key, value] : recipe.tags)
            arguments << u"-metadata"_s << key + u'=' + value;
        made = runTool(ffmpeg, arguments << u"-f"_s << u"mp3"_s << path);
    }
    QFile::remove(wav);
    QFile::remove(cover);
    return made;
}

qint64 decodedSamples(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG), {u"-nostdin"_s, u"-loglevel"_s, u"quiet"_s,
                                                    u"-i"_s, path, u"-f"_s, u"s16le"_s, u"-ac"_s,
                                                    u"1"_s, u"-"_s});
    ffmpeg.waitForFinished(120000);
    return ffmpeg.readAllStandardOutput().size() / 2;
}

QList<qint16> decodeMonoWithMpg123(const QString& path)
{
    QProcess mpg123;
    mpg123.start(u"mpg123"_s, {u"-q"_s, u"-s"_s, u"--mono"_s, u"-r"_s, u"8000"_s, path});
    mpg123.waitForFinished(120000);
    const QByteArray bytes = mpg123.readAllStandardOutput();
    QList<qint16> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.constData(), static_cast<size_t>(samples.size()) * 2);
    return samples;
}

QList<qint16> decodeMono(const QString& path, int sampleRate)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG),
                 {u"-nostdin"_s, u"-loglevel"_s, u"quiet"_s, u"-i"_s, path, u"-f"_s, u"s16le"_s,
                  u"-ac"_s, u"1"_s, u"-ar"_s, QString::number(sampleRate), u"-"_s});
    ffmpeg.waitForFinished(120000);
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    QList<qint16> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.constData(), static_cast<size_t>(samples.size()) * 2);
    return samples;
}

namespace {

// The power of one frequency in a window of samples (Goertzel).
double power(const QList<qint16>& samples, qsizetype from, qsizetype length, int frequency,
             int sampleRate)
{
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / sampleRate);
    double s1 = 0;
    double s2 = 0;
    for (qsizetype i = from; i < from + length && i < samples.size(); ++i) {
        const double s0 = samples.at(i) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

} // namespace

QList<double> toneBoundaries(const QList<qint16>& samples, int sampleRate, const QList<int>& tones)
{
    const qsizetype window = sampleRate / 200; // 5 ms
    // A tenth of the power of a tone of amplitude 1/8 of full scale, as the
    // test tones are: silence between two files leads to neither tone.
    const double heard = 0.1 * std::pow(4096.0 * static_cast<double>(window) / 2, 2);
    QList<double> found;
    qsizetype at = 0;
    for (qsizetype next = 1; next < tones.size(); ++next) {
        for (; at + window <= samples.size(); at += window) {
            const double now = power(samples, at, window, tones.at(next), sampleRate);
            if (now > heard && now > power(samples, at, window, tones.at(next - 1), sampleRate))
                break;
        }
        found << static_cast<double>(at) / sampleRate;
        at += sampleRate / 2; // well into the file, whose tone now leads
    }
    return found;
}

bool makeAac(const QString& path, double seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG),
                 {u"-nostdin"_s, u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                  u"sine=frequency=500:duration=%1"_s.arg(seconds), u"-c:a"_s, u"aac"_s, u"-b:a"_s,
                  u"48k"_s, u"-y"_s, path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

bool runFfmpeg(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral(FABLEWICK_FFMPEG),
                             QStringList{u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s} + arguments) ==
           0;
}

QList<QStringList> mediaInfoMenus(const QString& path)
{
    QProcess mediainfo;
    // It writes other letters as "?" unless the locale is UTF-8's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    mediainfo.setProcessEnvironment(environment);
    mediainfo.start(u"mediainfo"_s, {u"--Output=JSON"_s, path});
    mediainfo.waitForFinished(60000);
    QList<QStringList> menus;
    const QJsonArray tracks = QJsonDocument::fromJson(mediainfo.readAllStandardOutput())
                                  [u"media"_s][u"track"_s]
                                      .toArray();
    for (const QJsonValue& track : tracks) {
        if (track[u"@type"_s].toString() != u"Menu"_s)
            continue;
        QStringList chapters;
        const QJsonObject extra = track[u"extra"_s].toObject();
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            // "_00_01_20_000" is 00:01:20.000.
            static const QRegularExpression time(u"^_(\\d\\d)_(\\d\\d)_(\\d\\d)_(\\d{3})$"_s);
            const QRegularExpressionMatch m = time.match(it.key());
            if (m.hasMatch())
                chapters << u"%1:%2:%3.%4 %5"_s.arg(m.captured(1), m.captured(2), m.captured(3),
                                                   m.captured(4), it.value().toString());
        }
        menus << chapters;
    }
    return menus;
}

QByteArray audioChecksum(const QString& path, AudioSum sum)
{
    QStringList arguments{u"-nostdin"_s, u"-loglevel"_s, u"error"_s, u"-i"_s, path,
                          u"-map"_s,     u"0:a"_s};
    if (sum == AudioSum::MediaBytes)
        arguments << u"-c"_s << u"copy"_s;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral(FABLEWICK_FFMPEG), arguments << u"-f"_s << u"md5"_s << u"-"_s);
    ffmpeg.waitForFinished(120000);
    return ffmpeg.readAllStandardOutput().trimmed();
}

QJsonObject probe(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral(FABLEWICK_FFPROBE),
                  {u"-v"_s, u"error"_s, u"-show_chapters"_s, u"-show_format"_s, u"-show_streams"_s,
                   u"-of"_s, u"json"_s, path});
    ffprobe.waitForFinished(60000);
    return QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
}

WorkerReports RunEnd::reports()
{
    return {.progress =
                [this](double done, double total, const QString& text) {
                    std::lock_guard lock(mutex);
                    mTold.append({done, total, text});
                },
            .finished = [this](const std::exception_ptr& failure) { finish(failure); }};
}

QList<RunEnd::Told> RunEnd::told() const
{
    std::lock_guard lock(mutex);
    return mTold;
}

QList<RunEnd::Told> RunEnd::described() const
{
    QList<Told> told = this->told();
    told.removeIf([](const Told& each) { return each.text.isEmpty(); });
    return told;
}

bool RunEnd::endedOnStartingThread() const
{
    std::lock_guard lock(mutex);
    return mEndThread == mStartingThread;
}

void RunEnd::finish(std::exception_ptr exception)
{
    std::lock_guard lock(mutex);
    mEndThread = std::this_thread::get_id();
    ++mFinished;
    mException = std::move(exception);
    mDone.notify_all();
}

bool RunEnd::waitForEnd(int seconds)
{
    std::unique_lock lock(mutex);
    return mDone.wait_for(lock, std::chrono::seconds(seconds), [this] { return mFinished > 0; });
}

int RunEnd::finished() const
{
    std::lock_guard lock(mutex);
    return mFinished;
}

std::exception_ptr RunEnd::exception() const
{
    std::lock_guard lock(mutex);
    return mException;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray mp3AudioFrames(QByteArray bytes)
{
    while (bytes.size() >= 10 && bytes.startsWith("ID3")) {
        const auto size = [&](int i) { return qsizetype(uchar(bytes.at(i)) & 0x7F); };
        const qsizetype tag = (size(6) << 21) | (size(7) << 14) | (size(8) << 7) | size(9);
        bytes.remove(0, 10 + tag + ((uchar(bytes.at(5)) & 0x10) ? 10 : 0));
    }
    if (bytes.size() >= 128 && bytes.sliced(bytes.size() - 128).startsWith("TAG"))
        bytes.chop(128);
    return bytes;
}

QByteArray bookFrames(const QString& book)
{
    const std::optional<Mp3Frames::Frames> frames = Mp3Frames::frames(book);
    if (!frames || frames->starts.empty())
        return {};
    const qint64 from = frames->starts.front();
    return readFile(book).mid(from, frames->end - from);
}

QByteArray sourceFrames(const QStringList& sources)
{
    QByteArray all;
    for (const QString& source : sources)
        all += bookFrames(source);
    return all;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString makeFakeTool(const QString& directory, const QString& name, const QString& body)
{
    const QString path = directory + u'/' + name;
    const QString script =
        u"#!/bin/sh\n"
        u"log=\"$(dirname \"$0\")/%1.args\"\n"
        u": > \"$log\"\n"
        u"for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"_s.arg(name) +
        body + u'\n';
    writeFile(path, script.toUtf8());
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QStringList recordedArguments(const QString& toolPath)
{
    QString text = QString::fromUtf8(readFile(toolPath + u".args"_s));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.isEmpty() ? QStringList{} : text.split(u'\n');
}

// A resource directory of links to the real one, where a test can put a stand-in.
QString toolsWithStandIn(const QString& root, const QString& tool, const QString& body)
{
    const QString dir = root + u"/resources"_s;
    QDir().mkpath(dir);
    const QString real = QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR);
    for (const QString& name : QDir(real).entryList(QDir::Files | QDir::System)) {
        QFile::remove(dir + u'/' + name);
        QFile::link(real + u'/' + name, dir + u'/' + name);
    }
    QFile::remove(dir + u'/' + tool);
    makeFakeTool(dir, tool, body);
    Resources::setDirectory(dir);
    return dir;
}
