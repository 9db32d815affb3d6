#pragma once

// What every test may use: a fresh environment, generated audio, an
// independent reader, and fake tools. Nothing here knows of widgets.
#include <QByteArray>
#include <QDir>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include "WorkerReports.h"
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

// A fresh home, temporary directory and Desktop for one test, with the
// application's resource directory pointed at the build's own.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    [[nodiscard]] QString root() const { return mRoot.path(); }
    [[nodiscard]] QString home() const { return root() + QStringLiteral("/home"); }
    [[nodiscard]] QString tmp() const { return root() + QStringLiteral("/tmp"); }
    [[nodiscard]] QString desktop() const { return home() + QStringLiteral("/Desktop"); }
    // A folder of its own for source files.
    [[nodiscard]] QString sources() const { return root() + QStringLiteral("/sources"); }

private:
    QTemporaryDir mRoot;
    QByteArray mOldHome;
    QByteArray mOldTmp;
};

// Makes an MP3 file of a tone with ffmpeg, not through the application.
bool makeMp3(const QString& path, double seconds, int sampleRate = 44100, int channels = 2,
             int kbps = 128);
// Makes an MP3 file of a tone of that frequency, encoded with the given
// options of ffmpeg's ("-b:a 64k", "-q:a 5", ...).
bool makeTone(const QString& path, double seconds, int frequency, int sampleRate, int channels,
              const QStringList& encoderOptions);
// How a source file of a test collection is made: by lame or by ffmpeg's
// libmp3lame, with its own options, tags and an embedded cover, as real
// collections are.
struct SourceRecipe
{
    bool lame = false;
    // lame's options ("-V", "5") or ffmpeg's ("-b:a", "64k", "-write_xing", "0").
    QStringList options;
    // Tags by ffmpeg's names (title, artist, album, album_artist, composer,
    // track, disc, date, comment); lame writes those it has options for.
    QList<std::pair<QString, QString>> tags;
    // ID3v2 version for ffmpeg (3 or 4; 0: no tag at all); lame writes 2.3.
    int id3Version = 4;
    bool id3v1 = false;
    // A JPEG front cover of this size embedded in the tag; 0: none.
    int coverSize = 0;
};
// Makes an MP3 file of a tone as the recipe says; false when a tool is missing or fails.
bool makeSource(const QString& path, double seconds, int frequency, int sampleRate, int channels,
                const SourceRecipe& recipe);
// What ffmpeg decodes of a file on its own, in samples at the file's rate.
[[nodiscard]] qint64 decodedSamples(const QString& path);
// An MP3 file's audio as mpg123, which VLC plays MP3 with, decodes it: mono
// 16-bit samples at 8 kHz.
[[nodiscard]] QList<qint16> decodeMonoWithMpg123(const QString& path);
// A file's audio decoded as mono 16-bit samples at the rate.
[[nodiscard]] QList<qint16> decodeMono(const QString& path, int sampleRate);
// Where, in seconds, each tone after the first begins to be heard in a
// decoding of files of those tones, one after another.
[[nodiscard]] QList<double> toneBoundaries(const QList<qint16>& samples, int sampleRate,
                                           const QList<int>& tones);
// Makes an AAC file of a tone with ffmpeg.
bool makeAac(const QString& path, double seconds);
// Runs a tool, its errors shown; true when it ends well.
bool runTool(const QString& program, const QStringList& arguments);
// What a tool wrote on its standard output, when it ended well.
[[nodiscard]] std::optional<QByteArray> toolOutput(const QString& program,
                                                   const QStringList& arguments);
// Runs ffmpeg quietly with the arguments, overwriting its output; true when it succeeds.
bool runFfmpeg(const QStringList& arguments);
// What ffprobe, an independent reader, says of a file: format, streams and chapters.
[[nodiscard]] QJsonObject probe(const QString& path);
// An MD5 sum of a file's audio, as ffmpeg reads it: the bytes of its
// packets as they are, or the samples they decode to.
enum class AudioSum
{
    MediaBytes,
    DecodedSamples
};
[[nodiscard]] QByteArray audioChecksum(const QString& path, AudioSum sum = AudioSum::MediaBytes);
// The chapters of each menu that mediainfo, another reader, finds, as
// "hh:mm:ss.mmm title".
[[nodiscard]] QList<QStringList> mediaInfoMenus(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
// An MP3 stream's bytes without the ID3v2 tags at its start and the ID3v1
// tag at its end: its audio frames, with whatever lies between them.
[[nodiscard]] QByteArray mp3AudioFrames(QByteArray bytes);
// An MP3 book's audio frames after its Info frame, which tells of the whole
// book; and what a book joined from these sources holds there: each one's
// frames, without its tags and its own Info frame.
[[nodiscard]] QByteArray bookFrames(const QString& book);
[[nodiscard]] QByteArray sourceFrames(const QStringList& sources);
[[nodiscard]] QByteArray readFile(const QString& path);

// What a worker reports of a run, which comes on the worker's threads: the
// test hands it reports(), waits for the end, then reads what was told.
class RunEnd
{
public:
    struct Told
    {
        double done = 0;
        double total = 0;
        QString text;
    };
    [[nodiscard]] WorkerReports reports();
    void finish(std::exception_ptr exception);
    [[nodiscard]] bool waitForEnd(int seconds = 120);
    [[nodiscard]] int finished() const;
    [[nodiscard]] std::exception_ptr exception() const;
    [[nodiscard]] QList<Told> told() const;
    // What was told with words, as a progress bar's text shows them.
    [[nodiscard]] QList<Told> described() const;
    // Whether the end came on the thread that handed out the reports.
    [[nodiscard]] bool endedOnStartingThread() const;

private:
    mutable std::mutex mutex;
    std::condition_variable mDone;
    int mFinished = 0;
    std::exception_ptr mException;
    QList<Told> mTold;
    std::thread::id mStartingThread = std::this_thread::get_id();
    std::thread::id mEndThread;
};

// A tool stand-in: a shell script that records its arguments, one per line,
// in NAME.args beside it, then runs the given body.
QString makeFakeTool(const QString& directory, const QString& name, const QString& body);
[[nodiscard]] QStringList recordedArguments(const QString& toolPath);
// A resource directory under root of links to the real one, with a stand-in
// for the tool, made the application's resource directory.
QString toolsWithStandIn(const QString& root, const QString& tool, const QString& body);
