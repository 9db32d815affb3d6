// Damaged and crafted files, as downloads cut short and strangers' tools
// leave them: each is read without harm, named in the list when it cannot be
// used, and the book of the others can still be made.
#include "AudioKind.h"
#include "Mp4AudioTrack.h"
#include "Mp4Box.h"
#include "Resources.h"
#include "SourceDecoder.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <QtEndian>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

using Damage = std::function<QByteArray(QByteArray)>;

// The movie header, the last box of the file as ffmpeg writes it, changed
// and put back: the media data before it keeps its place.
QByteArray changeMovie(const QByteArray& file, const std::function<void(Mp4Box&)>& change)
{
    const qsizetype at = file.lastIndexOf("moov") - 4;
    const QByteArray body = file.mid(at + 8);
    Mp4Box moov = Mp4Box::holding("moov", Mp4Box::parse(body));
    change(moov);
    return file.left(at) + moov.serialized();
}

Mp4Box& sampleTable(Mp4Box& moov)
{
    return *moov.child("trak")->child("mdia")->child("minf")->child("stbl");
}

// A field of a box's payload, a 32-bit number, set.
QByteArray setField(QByteArray payload, qsizetype at, quint32 value)
{
    qToBigEndian<quint32>(value, payload.data() + at);
    return payload;
}

QByteArray nested(QByteArray file)
{
    // 100,000 boxes each holding the next, at the end of the movie header.
    constexpr int kDepth = 100000;
    QByteArray chain(8 * kDepth, '\0');
    for (int i = 0; i < kDepth; ++i) {
        qToBigEndian<quint32>(8 * (kDepth - i), chain.data() + 8 * i);
        std::memcpy(chain.data() + 8 * i + 4, "trak", 4);
    }
    const qsizetype at = file.lastIndexOf("moov") - 4;
    qToBigEndian<quint32>(qFromBigEndian<quint32>(file.constData() + at) + chain.size(),
                          file.data() + at);
    return file + chain;
}

// Each run of chunks holds one frame more than the track has: the copy
// would read sizes past the end of its table.
QByteArray moreFramesInChunks(const QByteArray& file, quint32 perChunk)
{
    return changeMovie(file, [perChunk](Mp4Box& moov) {
        Mp4Box& stsc = *sampleTable(moov).child("stsc");
        const auto entries = qFromBigEndian<quint32>(stsc.payload.constData() + 4);
        for (quint32 e = 0; e < entries; ++e) {
            const qsizetype field = 8 + 12 * e + 4;
            const quint32 old = qFromBigEndian<quint32>(stsc.payload.constData() + field);
            stsc.payload = setField(stsc.payload, field, perChunk ? perChunk : old + 1);
        }
    });
}

QByteArray wrappingOffset(const QByteArray& file)
{
    return changeMovie(file, [](Mp4Box& moov) {
        Mp4Box& stbl = sampleTable(moov);
        Mp4Box& stco = *stbl.child("stco");
        const auto chunks = qFromBigEndian<quint32>(stco.payload.constData() + 4);
        QByteArray co64 = stco.payload.left(8);
        for (quint32 c = 0; c < chunks; ++c)
            Mp4::append(co64,
                        c == 0 ? 0xFFFFFFFFFFFFFFF0ULL
                               : qFromBigEndian<quint32>(stco.payload.constData() + 8 + 4 * c),
                        8);
        stco = Mp4Box::leaf("co64", co64);
    });
}

QByteArray boxLargerThanFile(QByteArray file)
{
    const qsizetype at = file.lastIndexOf("stts") - 4;
    qToBigEndian<quint32>(0x7FFFFFFF, file.data() + at);
    return file;
}

QByteArray editPastTheAudio(const QByteArray& file)
{
    return changeMovie(file, [](Mp4Box& moov) {
        Mp4Box& edts = *moov.child("trak")->child("edts");
        // elst: size, type, version and flags, entries, then duration and media time.
        edts.payload = setField(setField(edts.payload, 16, 0xFFFFFFFF), 20, 0x7FFFFFF0);
    });
}

QByteArray longDescriptor(QByteArray file)
{
    // The first descriptor after esds's version and flags: its tag, then its
    // length, which now runs past the box, in as many bytes as it had.
    const qsizetype at = file.lastIndexOf("esds") + 8;
    if (file.at(at + 1) & 0x80)
        file.replace(at + 1, 4, QByteArray::fromHex("ffffff7f"));
    else
        file[at + 1] = 0x7f;
    return file;
}

} // namespace

class TestDamaged : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aDamagedM4aIsRefusedOrTheBookIsWhole_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<bool>("headerFirst");
        // What the reader of the track says; what the run is refused with, if it must be.
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("100,000 nested boxes")
            << Damage(nested) << false << u"its boxes are nested too deeply"_s << QString();
        QTest::newRow("chunks listing more frames than the track")
            << Damage([](QByteArray f) { return moreFramesInChunks(f, 0); }) << false
            << u"its chunks hold more frames than it has"_s << QString();
        QTest::newRow("100,000 frames in a chunk")
            << Damage([](QByteArray f) { return moreFramesInChunks(f, 100000); }) << false
            << u"its chunks hold more frames than it has"_s << QString();
        QTest::newRow("a 64-bit offset that wraps")
            << Damage(wrappingOffset) << false << u"its audio ends before its header says"_s
            << u"ends at 0:00 of 0:03"_s;
        QTest::newRow("a box larger than the file")
            << Damage(boxLargerThanFile) << false << u"the box 'stts' does not fit"_s << QString();
        QTest::newRow("an edit past the audio")
            << Damage(editPastTheAudio) << false << u"its edit does more than trim its audio"_s
            << QString();
        QTest::newRow("a descriptor longer than its box")
            << Damage(longDescriptor) << false << u"its decoder description is cut short"_s
            << QString();
        QTest::newRow("a download cut short")
            << Damage([](QByteArray f) { return f.left(f.size() / 2); }) << true
            << u"its audio ends before its header says"_s << u"ends at 0:01 of 0:03"_s;
    }

    void aDamagedM4aIsRefusedOrTheBookIsWhole()
    {
        QFETCH(Damage, damage);
        QFETCH(bool, headerFirst);
        QFETCH(QString, reason);
        QFETCH(QString, refusal);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QStringList paths{environment.sources() + u"/01 one.m4a"_s,
                                environment.sources() + u"/02 damaged.m4a"_s,
                                environment.sources() + u"/03 three.m4a"_s};
        for (const QString& path : paths)
            QVERIFY(makeAac(path, 2.5));
        if (headerFirst)
            QVERIFY(runFfmpeg({u"-i"_s, paths.at(0), u"-c"_s, u"copy"_s, u"-movflags"_s,
                               u"+faststart"_s, paths.at(1)}));
        QVERIFY(writeFile(paths.at(1), damage(readFile(paths.at(1)))));
        try {
            (void)Mp4AudioTrack::read(paths.at(1));
            QFAIL("the damaged file was read as whole");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), reason);
        }

        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        QCOMPARE(c.tableData().size(), 3);
        nameBook(c, u"Book"_s, u"Bookmark"_s);
        chooseItem(control<QComboBox>(c, u"outputChannels"_s), u"Mono"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        const QString book = environment.desktop() + u"/Book.m4b"_s;
        if (!app.dialogs->allAlerts.isEmpty()) {
            // Refused: the file is named, and nothing is made.
            const QString detail = app.dialogs->allAlerts.at(0).detail;
            QVERIFY2(detail.contains(u"02 damaged.m4a"_s) && detail.contains(refusal) &&
                         !detail.contains(u"01 one"_s),
                     qPrintable(detail));
            QVERIFY(!QFileInfo::exists(book));
            return;
        }
        QVERIFY2(refusal.isEmpty(), "the book was made of a file that must be refused");
        // Made: as long as its files, one chapter each.
        double listed = 0;
        for (const ItemRecordPtr& record : c.tableData())
            listed += record->lengthColumn.value_or(0);
        const QJsonObject info = probe(book);
        QCOMPARE(info[u"chapters"_s].toArray().size(), 3);
        const double made = info[u"format"_s][u"duration"_s].toString().toDouble();
        QVERIFY2(qAbs(made - listed) < 0.05, qPrintable(u"%1 s of %2 s"_s.arg(made).arg(listed)));
    }

    // What the list says of a file cut short, as a screen reader reads it.
    void aFileCutShortIsNamedWithWhatIsLeft_data()
    {
        QTest::addColumn<QString>("name");
        // A FLAC file's header gives its length, but only a decoder finds where it ends.
        QTest::addColumn<bool>("namedInList");
        QTest::newRow("MP3") << u"02 cut.mp3"_s << true;
        QTest::newRow("M4A") << u"02 cut.m4a"_s << true;
        QTest::newRow("FLAC") << u"02 cut.flac"_s << false;
    }

    void aFileCutShortIsNamedWithWhatIsLeft()
    {
        QFETCH(QString, name);
        QFETCH(bool, namedInList);
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QString whole = environment.sources() + u"/01 whole.mp3"_s;
        const QString cut = environment.sources() + u'/' + name;
        QVERIFY(makeMp3(whole, 2));
        QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=duration=250"_s, u"-b:a"_s,
                           u"64k"_s, u"-movflags"_s, u"+faststart"_s, cut}));
        const QByteArray bytes = readFile(cut);
        QVERIFY(writeFile(cut, bytes.left(bytes.size() * 3 / 10)));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({whole, cut});
        QVERIFY(waitUntilListed(c));
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.table());
        const int row = c.tableData().at(0)->pathColumn == cut ? 0 : 1;
        const QString spoken =
            table->tableInterface()->cellAt(row, 1)->text(QAccessible::Description);
        QCOMPARE(spoken.contains(u"ends at 1:1"_s) && spoken.contains(u"of 4:10"_s), namedInList);
        nameBook(c, u"Cut"_s, u"Bookmark"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QCOMPARE(app.dialogs->allAlerts.size(), 1);
        QVERIFY2(app.dialogs->allAlerts.at(0).detail.contains(name + u"” ends at"_s),
                 qPrintable(app.dialogs->allAlerts.at(0).detail));
        QVERIFY(QDir(environment.desktop()).isEmpty());
        // Found by the decoder, it is marked in the list all the same.
        QVERIFY(table->tableInterface()
                    ->cellAt(row, 1)
                    ->text(QAccessible::Description)
                    .contains(u"ends at"_s));

        // Removed with its key, the file leaves a book of the others.
        activate(c);
        c.table()->setFocus();
        c.table()->selectRow(row);
        QTest::keyClick(c.table(), Qt::Key_Delete);
        QCOMPARE(c.tableData().size(), 1);
        c.joinAll();
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        QCOMPARE(app.dialogs->allAlerts.size(), 1);
        QVERIFY(QFileInfo::exists(environment.desktop() + u"/Cut.m4b"_s));
    }

    // A folder named for MP3s says nothing of the kind of the files in it.
    void aFileIsReadByItsExtensionThenItsContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("other");
        QTest::newRow("an .m4a in a folder named mp3") << u"MP3 Books/mp3/Tale.m4a"_s << true;
        QTest::newRow("an .ogg named mp3") << u"mp3 Tale.ogg"_s << true;
        QTest::newRow("MP4 audio without our extension") << u"Tale.mp3.m4a.part"_s << true;
        QTest::newRow("an .mp3") << u"m4a/Tale.mp3"_s << false;
    }

    void aFileIsReadByItsExtensionThenItsContent()
    {
        QFETCH(QString, name);
        QFETCH(bool, other);
        TestEnvironment environment;
        const QString path = environment.sources() + u'/' + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QString made = path.endsWith(u".part"_s) ? path + u".m4a"_s : path;
        QVERIFY(runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=duration=1"_s, u"-metadata"_s,
                           u"title=From the Tag"_s, made}));
        QVERIFY(made == path || QFile::rename(made, path));
        QCOMPARE(AudioKind::isOther(path), other);
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({path});
        QVERIFY(waitUntilListed(c));
        QCOMPARE(c.tableData().size(), 1);
        QCOMPARE(c.tableData().at(0)->tags.title, u"From the Tag"_s);
        QVERIFY(c.tableData().at(0)->problem.isEmpty());
    }

    // An encoder that stops early without a word: the book is measured
    // against its files and is not delivered short.
    void aBookShorterThanItsFilesIsNotDelivered()
    {
        TestEnvironment environment;
        QDir().mkpath(environment.sources());
        const QStringList paths{environment.sources() + u"/01 a.mp3"_s,
                                environment.sources() + u"/02 b.mp3"_s};
        for (const QString& path : paths)
            QVERIFY(makeMp3(path, 3));
        // The real ffmpeg, told to stop after a second of whatever it writes.
        toolsWithStandIn(environment.root(), u"ffmpeg"_s,
                         u"n=$#; i=0\n"
                         u"for a in \"$@\"; do i=$((i+1)); [ $i -eq $n ] && set -- \"$@\" -t 1; "
                         u"set -- \"$@\" \"$a\"; done\n"
                         u"shift $n; exec '%1' \"$@\""_s.arg(QStringLiteral(FABLEWICK_FFMPEG)));
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        nameBook(c, u"Short"_s, u"Bookmark"_s);
        c.startJoin();
        QVERIFY(waitUntilIdle(c));
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
        QCOMPARE(app.dialogs->allAlerts.size(), 1);
        const QString detail = app.dialogs->allAlerts.at(0).detail;
        QVERIFY2(detail.contains(u"The finished audio is 0:01 long, but its files play for 0:06"_s),
                 qPrintable(detail));
        QVERIFY(QDir(environment.desktop()).isEmpty());
    }

    // Past 4 GiB a decoded WAV is RF64; its length is in the ds64 chunk. A
    // sparse file stands for the hours of audio.
    void aDecodedSourcePastFourGibibytesIsCountedWhole()
    {
        TestEnvironment environment;
        const QString path = environment.root() + u"/long.wav"_s;
        constexpr quint64 kData = 5ULL << 30;
        // The RIFF and data sizes stand as 0xFFFFFFFF; ds64 has them: RIFF, data, samples.
        QByteArray ds64(28, '\0');
        qToLittleEndian<quint64>(kData + 80, ds64.data());
        qToLittleEndian<quint64>(kData, ds64.data() + 8);
        QByteArray head = "RF64" + QByteArray("\xff\xff\xff\xff", 4) + "WAVEds64" +
                          QByteArray("\x1c\0\0\0", 4) + ds64;
        QByteArray format(16, '\0');
        qToLittleEndian<quint16>(1, format.data());
        qToLittleEndian<quint16>(2, format.data() + 2);
        qToLittleEndian<quint32>(44100, format.data() + 4);
        qToLittleEndian<quint32>(44100 * 4, format.data() + 8);
        qToLittleEndian<quint16>(4, format.data() + 12);
        qToLittleEndian<quint16>(16, format.data() + 14);
        head += "fmt " + QByteArray("\x10\0\0\0", 4) + format + "data" +
                QByteArray("\xff\xff\xff\xff", 4);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(head), head.size());
        QVERIFY(file.resize(head.size() + static_cast<qint64>(kData)));
        file.close();
        QCOMPARE(SourceDecoder::wavFrames(path), std::optional<qint64>(kData / 4));
    }
};

QTEST_MAIN(TestDamaged)
#include "tst_damaged.moc"
