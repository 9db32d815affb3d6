// fablewick-book, run as a user runs it on books made by ffmpeg, tagged by
// AtomicParsley and made by Fablewick: what info tells against ffprobe,
// tags changed one field at a time, chapters found in speech, a split that
// adds up to the book, and its exit statuses and words.
#include "TaggedBooks.h"
#include "TestCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
    [[nodiscard]] QJsonObject json() const
    {
        return QJsonDocument::fromJson(out.toUtf8()).object();
    }
    [[nodiscard]] QString said() const { return u"status %1: %2%3"_s.arg(status).arg(out, err); }
};

Result run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + u"/../bin/"_s + program, arguments);
    process.waitForFinished(180000);
    return {.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            .out = QString::fromUtf8(process.readAllStandardOutput()),
            .err = QString::fromUtf8(process.readAllStandardError())};
}

Result book(const QStringList& arguments)
{
    return run(u"fablewick-book"_s, arguments);
}

// A book of three tones with chapters at 0, 4 and 8 s, made by ffmpeg alone.
bool makeFfmpegBook(const QString& path)
{
    return makeTaggedBook(path, Tagger::Ffmpeg, makeCovers(QFileInfo(path).absolutePath()));
}

// A book made by fablewick-make from three tagged parts.
bool makeFablewickBook(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath() + u"/parts"_s;
    QDir().mkpath(folder);
    QStringList parts;
    for (int i = 1; i <= 3; ++i) {
        parts << folder + u"/%1 Part.mp3"_s.arg(i);
        if (!makeTone(parts.constLast(), 2 + i, 300 + 150 * i, 22050, 1,
                      {u"-b:a"_s, u"32k"_s, u"-metadata"_s, u"album=Made Book"_s, u"-metadata"_s,
                       u"artist=Ann Author"_s}))
            return false;
    }
    return run(u"fablewick-make"_s, QStringList{u"-o"_s, path} + parts).status == 0;
}

// The chapters as ffprobe reads them: start (to the ms) and title.
QStringList probedChapters(const QString& path)
{
    QStringList read;
    for (const QJsonValue chapter : probe(path)[u"chapters"_s].toArray())
        read << u"%1 %2"_s.arg(chapter[u"start_time"_s].toString().toDouble(), 0, 'f', 3)
                    .arg(chapter[u"tags"_s][u"title"_s].toString());
    return read;
}

QStringList infoChapters(const QJsonObject& info)
{
    QStringList read;
    for (const QJsonValue chapter : info[u"chapters"_s].toArray())
        read << u"%1 %2"_s.arg(chapter[u"start"_s].toDouble(), 0, 'f', 3)
                    .arg(chapter[u"title"_s].toString());
    return read;
}

QStringList atomicParsley(const QString& path)
{
    QStringList lines;
    for (const QString& line :
         QString::fromUtf8(toolOutput(u"AtomicParsley"_s, {path, u"-t"_s}).value_or("?"))
             .split(u'\n', Qt::SkipEmptyParts))
        lines << line.trimmed().remove(QChar(0xFEFF));
    return lines;
}

// Lines in one list and not in the other, each marked with its side.
QStringList difference(const QStringList& before, const QStringList& after)
{
    QSet<QString> gone(before.begin(), before.end());
    QSet<QString> added(after.begin(), after.end());
    const QSet<QString> kept = QSet(gone).intersect(added);
    gone.subtract(kept);
    added.subtract(kept);
    QStringList changed;
    for (const QString& line : gone)
        changed << u"- "_s + line;
    for (const QString& line : added)
        changed << u"+ "_s + line;
    changed.sort();
    return changed;
}

bool speak(const QString& text, const QString& path)
{
    return QProcess::execute(u"espeak-ng"_s, {u"-w"_s, path, text}) == 0;
}

// Where sound louder than -35 dBFS resumes after each time, in seconds.
QList<double> speechResumes(const QString& path, const QList<double>& after)
{
    const QList<qint16> samples = decodeMono(path, 22050);
    QList<double> resumes;
    for (const double at : after) {
        const auto from = samples.begin() + std::min<qsizetype>(samples.size(), at * 22050);
        const auto sound =
            std::find_if(from, samples.end(), [](qint16 s) { return std::abs(s) > 583; });
        resumes << static_cast<double>(sound - samples.begin()) / 22050;
    }
    return resumes;
}

} // namespace

class TestBookVerbs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void infoTellsWhatFfprobeReads_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("byFablewick");
        QTest::newRow("an .m4b made by ffmpeg") << u"Ffmpeg.m4b"_s << false;
        QTest::newRow("an .mp3 made by ffmpeg") << u"Ffmpeg.mp3"_s << false;
        QTest::newRow("an .m4b made by Fablewick") << u"Made.m4b"_s << true;
        QTest::newRow("an .mp3 made by Fablewick") << u"Made.mp3"_s << true;
    }
    void infoTellsWhatFfprobeReads()
    {
        QFETCH(QString, name);
        QFETCH(bool, byFablewick);
        TestEnvironment environment;
        const QString path = environment.root() + u'/' + name;
        QVERIFY(byFablewick ? makeFablewickBook(path) : makeFfmpegBook(path));

        const Result told = book({u"info"_s, path, u"--json"_s});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        const QJsonObject info = told.json();
        QCOMPARE(infoChapters(info), probedChapters(path));
        const QJsonObject probed = probe(path);
        QVERIFY(qAbs(info[u"length"_s].toDouble() -
                     probed[u"format"_s][u"duration"_s].toString().toDouble()) < 0.06);
        const QJsonObject tags = probed[u"format"_s][u"tags"_s].toObject();
        QCOMPARE(info[u"tags"_s][u"title"_s].toString(), tags[u"title"_s].toString());
        QCOMPARE(info[u"tags"_s][u"artist"_s].toString(), tags[u"artist"_s].toString());
        QCOMPARE(info[u"tags"_s][u"album"_s].toString(), tags[u"album"_s].toString());
        QCOMPARE(info[u"allTags"_s][u"ALBUM"_s].toString(), tags[u"album"_s].toString());
        QCOMPARE(info[u"audio"_s][u"codec"_s].toString(),
                 probed[u"streams"_s][0][u"codec_name"_s].toString());
        QCOMPARE(info[u"writable"_s].toBool(), true);
        // The cover that ffmpeg attached is told by its kind and size.
        if (!byFablewick) {
            QCOMPARE(info[u"cover"_s][u"mimeType"_s].toString(), u"image/jpeg"_s);
            QCOMPARE(info[u"cover"_s][u"width"_s].toInt(), 120);
        }
        // The same as text, for a person.
        const Result text = book({u"info"_s, path});
        QVERIFY2(text.status == 0, qPrintable(text.said()));
        QVERIFY(text.out.contains(u"Chapters:  3"_s));
        QVERIFY(text.out.contains(u"Writable:  yes"_s));
    }

    // One field set, one cleared, the cover replaced: AtomicParsley reads
    // only those changed, and every other atom as it was.
    void tagChangesOnlyTheNamedFields()
    {
        TestEnvironment environment;
        const QString path = environment.root() + u"/Tagged.m4b"_s;
        const Covers covers = makeCovers(environment.root());
        QVERIFY(makeTaggedBook(path, Tagger::AtomicParsley, covers));
        const QStringList before = atomicParsley(path);
        const QStringList chapters = probedChapters(path);

        Result told =
            book({u"tag"_s, path, u"--narrator"_s, u"Someone Else"_s, u"--clear"_s, u"comment"_s});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        QCOMPARE(difference(before, atomicParsley(path)),
                 (QStringList{u"+ Atom \"\u00A9wrt\" contains: Someone Else"_s,
                              u"- Atom \"\u00A9cmt\" contains: A comment"_s,
                              u"- Atom \"\u00A9wrt\" contains: The Narrator"_s}));
        QCOMPARE(probedChapters(path), chapters);

        // --output writes a new book and leaves this one as it is.
        const QByteArray bytes = readFile(path);
        const QString copy = environment.root() + u"/Copy.m4b"_s;
        told = book({u"tag"_s, path, u"--title"_s, u"Another Title"_s, u"-o"_s, copy, u"--json"_s});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        QCOMPARE(told.json()[u"saved"_s].toString(), copy);
        QCOMPARE(readFile(path), bytes);
        QCOMPARE(probe(copy)[u"format"_s][u"tags"_s][u"title"_s].toString(), u"Another Title"_s);
        QCOMPARE(audioChecksum(copy), audioChecksum(path));

        // A file that is no image is refused, and the book is as it was.
        told = book({u"tag"_s, path, u"--cover"_s, path});
        QCOMPARE(told.status, 1);
        QVERIFY2(told.err.contains(u"It is no image"_s), qPrintable(told.err));
        QCOMPARE(readFile(path), bytes);
    }

    // Speech with pauses of 3 and 2.5 s: a chapter starts before each
    // place where the speech resumes, and nothing is written until taken.
    void silenceIsFoundAndTakenBeforeTheSpeech()
    {
        TestEnvironment environment;
        QStringList args;
        const QStringList passages{
            u"This is the first chapter of the book. It ends in a long pause."_s,
            u"Here the second chapter begins, and then it stops."_s,
            u"The third chapter is the last one, and after it the book is over."_s};
        for (qsizetype i = 0; i < passages.size(); ++i) {
            const QString part = environment.root() + u"/part%1.wav"_s.arg(i);
            QVERIFY2(speak(passages.at(i), part), "espeak-ng did not speak");
            args << u"-i"_s << part;
        }
        const QString path = environment.root() + u"/Spoken.m4b"_s;
        QVERIFY(
            runFfmpeg(args + QStringList{u"-filter_complex"_s,
                                         u"aevalsrc=0:d=3:s=22050[p1];aevalsrc=0:d=2.5:s=22050[p2];"
                                         "[0][p1][1][p2][2]concat=n=5:v=0:a=1"_s,
                                         u"-ac"_s, u"1"_s, u"-c:a"_s, u"aac"_s, path}));
        const QByteArray bytes = readFile(path);

        Result told =
            book({u"chapters"_s, path, u"--find-silence"_s, u"--shortest"_s, u"3"_s, u"--json"_s});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        QCOMPARE(told.json()[u"chapters"_s].toArray().size(), 3);
        QCOMPARE(readFile(path), bytes);

        told =
            book({u"chapters"_s, path, u"--find-silence"_s, u"--shortest"_s, u"3"_s, u"--take"_s});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        QList<double> starts;
        for (const QJsonValue chapter : probe(path)[u"chapters"_s].toArray())
            starts << chapter[u"start_time"_s].toString().toDouble();
        QCOMPARE(starts.size(), 3);
        const QList<double> resumes = speechResumes(path, starts.mid(1));
        for (qsizetype i = 0; i < resumes.size(); ++i)
            QVERIFY2(
                resumes.at(i) - starts.at(i + 1) >= 0 && resumes.at(i) - starts.at(i + 1) <= 0.35,
                qPrintable(
                    u"chapter at %1, speech at %2"_s.arg(starts.at(i + 1)).arg(resumes.at(i))));
    }

    // Chapters exported, shifted, retitled and imported, as players read them.
    void chaptersAreEditedAndWritten()
    {
        TestEnvironment environment;
        const QString path = environment.root() + u"/Book.m4b"_s;
        QVERIFY(makeFfmpegBook(path));
        Result told = book({u"chapters"_s, path, u"--shift"_s, u"0.5"_s, u"--after"_s, u"1"_s,
                            u"--retitle"_s, u"3"_s, u"Homeward"_s});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        QCOMPARE(probedChapters(path),
                 (QStringList{u"0.000 Landfall"_s, u"4.500 The Storm"_s, u"8.500 Homeward"_s}));
        const QString exported = environment.root() + u"/exported.ffmetadata"_s;
        QVERIFY2(book({u"chapters"_s, path, u"--export"_s, exported}).status == 0, "not exported");
        const QString other = environment.root() + u"/Other.m4b"_s;
        QVERIFY(makeFfmpegBook(other));
        told = book({u"chapters"_s, other, u"--import"_s, exported});
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        QCOMPARE(probedChapters(other), probedChapters(path));
        // A dry run tells and writes nothing; a shift past the end is refused.
        const QByteArray bytes = readFile(path);
        told = book({u"chapters"_s, path, u"--shift"_s, u"-0:00:01"_s, u"--dry-run"_s});
        QVERIFY2(told.out.contains(u"0:00:03.500  0:00:04.000  The Storm"_s),
                 qPrintable(told.said()));
        told = book({u"chapters"_s, path, u"--shift"_s, u"30"_s});
        QCOMPARE(told.status, 1);
        QCOMPARE(readFile(path), bytes);
    }

    void splitFilesAddUpToTheBook_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("as");
        QTest::addColumn<QString>("extension");
        QTest::newRow("an .m4b, copied") << u"Book.m4b"_s << QString() << u"m4a"_s;
        QTest::newRow("an .mp3, copied") << u"Book.mp3"_s << QString() << u"mp3"_s;
    }
    void splitFilesAddUpToTheBook()
    {
        QFETCH(QString, name);
        QFETCH(QString, as);
        QFETCH(QString, extension);
        TestEnvironment environment;
        const QString path = environment.root() + u'/' + name;
        QVERIFY(makeFfmpegBook(path));
        const QString out = environment.root() + u"/parts"_s;
        QStringList arguments{u"split"_s, path, u"--out"_s, out, u"--json"_s};
        if (!as.isEmpty())
            arguments << u"--as"_s << as;
        const Result told = book(arguments);
        QVERIFY2(told.status == 0, qPrintable(told.said()));
        const QJsonArray files = told.json()[u"files"_s].toArray();
        QCOMPARE(files.size(), 3);
        // Cut at frames without an encode, each file holds its chapter to
        // within a frame, and all of them the whole book.
        const QJsonArray chapters =
            book({u"info"_s, path, u"--json"_s}).json()[u"chapters"_s].toArray();
        const qint64 frame = extension == u"mp3"_s ? 1152 : 1024;
        const int rate = probe(path)[u"streams"_s][0][u"sample_rate"_s].toString().toInt();
        qint64 samples = 0;
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QString file = files.at(i).toString();
            QVERIFY(file.endsWith(u'.' + extension));
            const qint64 part = decodedSamples(file);
            const auto chapter = static_cast<qint64>(chapters.at(i)[u"length"_s].toDouble() * rate);
            QVERIFY2(
                qAbs(part - chapter) <= frame,
                qPrintable(u"%1: %2 samples, its chapter %3"_s.arg(file).arg(part).arg(chapter)));
            samples += part;
        }
        const qint64 whole = decodedSamples(path);
        QVERIFY2(qAbs(samples - whole) <= frame * files.size(),
                 qPrintable(u"parts %1 samples, the book %2"_s.arg(samples).arg(whole)));
    }

    void exitStatusesAndWords_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("no verb") << QStringList{} << 2 << u"Give a verb"_s;
        QTest::newRow("unknown verb") << QStringList{u"play"_s, u"BOOK"_s} << 2 << u"is no verb"_s;
        QTest::newRow("no book") << QStringList{u"info"_s} << 2 << u"Give the book"_s;
        QTest::newRow("nothing to tag")
            << QStringList{u"tag"_s, u"BOOK"_s} << 2 << u"Give the tags to set"_s;
        QTest::newRow("unknown field") << QStringList{u"tag"_s, u"BOOK"_s, u"--clear"_s, u"mood"_s}
                                       << 2 << u"--clear names a tag"_s;
        QTest::newRow("take without finding")
            << QStringList{u"chapters"_s, u"BOOK"_s, u"--take"_s} << 2 << u"give both"_s;
        QTest::newRow("bad shift") << QStringList{u"chapters"_s, u"BOOK"_s, u"--shift"_s, u"soon"_s}
                                   << 2 << u"--shift is a time"_s;
        QTest::newRow("split without out")
            << QStringList{u"split"_s, u"BOOK"_s} << 2 << u"Give --out DIR"_s;
        QTest::newRow("no such book")
            << QStringList{u"info"_s, u"NONE"_s} << 1 << u"There is no such file"_s;
        QTest::newRow("not audio") << QStringList{u"info"_s, u"TEXT"_s} << 1 << u"no audio file"_s;
        QTest::newRow("no chapter 9")
            << QStringList{u"chapters"_s, u"BOOK"_s, u"--retitle"_s, u"9"_s, u"Nine"_s} << 1
            << u"there is no chapter 9"_s;
        QTest::newRow("help of a verb")
            << QStringList{u"split"_s, u"--help"_s} << 0 << u"--out <DIR>"_s;
        QTest::newRow("make is fablewick-make")
            << QStringList{u"make"_s, u"--help"_s} << 0 << u"--each"_s;
    }
    void exitStatusesAndWords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        TestEnvironment environment;
        const QString path = environment.root() + u"/Book.m4b"_s;
        if (arguments.contains(u"BOOK"_s))
            QVERIFY(makeAac(path, 3));
        const QString text = environment.root() + u"/notes.txt"_s;
        QVERIFY(writeFile(text, "not a book"));
        arguments.replaceInStrings(u"BOOK"_s, path);
        arguments.replaceInStrings(u"NONE"_s, environment.root() + u"/none.m4b"_s);
        arguments.replaceInStrings(u"TEXT"_s, text);
        const Result told = book(arguments);
        QCOMPARE(told.status, status);
        QVERIFY2((told.out + told.err).contains(said), qPrintable(told.said()));
    }
};

QTEST_GUILESS_MAIN(TestBookVerbs)
#include "tst_bookverbs.moc"
