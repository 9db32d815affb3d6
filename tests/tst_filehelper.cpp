#include "FileHelper.h"
#include "TestCore.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {
ItemRecordPtr record(const QString& path)
{
    auto r = std::make_shared<ItemRecord>();
    r->pathColumn = path;
    return r;
}
} // namespace

class TestFileHelper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void makesAndReusesTheTemporaryFolder()
    {
        TestEnvironment environment;
        QCOMPARE(FileHelper::makeNewTempFolder(std::nullopt), QDir::tempPath());
        const auto folder = FileHelper::makeNewTempFolder(u"Fablewick"_s);
        QCOMPARE(folder, environment.tmp() + u"/Fablewick"_s);
        struct stat info
        {
        };
        QCOMPARE(::stat(QFile::encodeName(*folder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0700u);
        QVERIFY(writeFile(*folder + u"/kept.txt"_s, "x"));
        QCOMPARE(FileHelper::makeNewTempFolder(u"Fablewick"_s), folder);
        QVERIFY(QFile::exists(*folder + u"/kept.txt"_s));

        QCOMPARE(FileHelper::makeNewSubFolder(*folder, u"Originals"_s), *folder + u"/Originals"_s);
        QCOMPARE(FileHelper::makeNewSubFolder(environment.root() + u"/missing"_s, u"x"_s),
                 std::nullopt);
    }

    // An entry that is not our own folder is never taken for it.
    void refusesEntriesThatAreNotOurs()
    {
        TestEnvironment environment;
        QVERIFY(writeFile(environment.tmp() + u"/Fablewick"_s, "a plain file"));
        QCOMPARE(FileHelper::makeNewTempFolder(u"Fablewick"_s), std::nullopt);

        const QString victim = environment.root() + u"/someone else"_s;
        QVERIFY(QDir().mkpath(victim));
        QVERIFY(writeFile(victim + u"/precious.txt"_s, "keep me"));
        QVERIFY(QFile::link(victim, environment.tmp() + u"/Linked"_s));
        QCOMPARE(FileHelper::makeNewTempFolder(u"Linked"_s), std::nullopt);
        QVERIFY(!FileHelper::deleteContentOfDirectory(environment.tmp() + u"/Linked"_s));
        QCOMPARE(readFile(victim + u"/precious.txt"_s), QByteArray("keep me"));

        if (::geteuid() != 0)
            QSKIP("handing a folder to another user needs root");
        const QString foreign = environment.tmp() + u"/Foreign"_s;
        QVERIFY(QDir().mkpath(foreign));
        QCOMPARE(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
        QCOMPARE(FileHelper::makeNewTempFolder(u"Foreign"_s), std::nullopt);
    }

    void emptyingRemovesEverythingButFollowsNoLink()
    {
        TestEnvironment environment;
        const QString folder = environment.root() + u"/work"_s;
        const QString outside = environment.root() + u"/outside"_s;
        QVERIFY(QDir().mkpath(folder + u"/sub/deeper"_s));
        QVERIFY(QDir().mkpath(outside + u"/dir"_s));
        QVERIFY(writeFile(outside + u"/source.mp3"_s, "source"));
        QVERIFY(writeFile(outside + u"/dir/inner.mp3"_s, "inner"));
        QVERIFY(writeFile(folder + u"/.hidden"_s, "h"));
        QVERIFY(writeFile(folder + u"/sub/deeper/file"_s, "f"));
        QVERIFY(QFile::link(outside + u"/source.mp3"_s, folder + u"/0.mp3"_s));
        QVERIFY(QFile::link(outside + u"/dir"_s, folder + u"/sub/dirlink"_s));
        QVERIFY(QFile::link(outside + u"/gone"_s, folder + u"/dangling"_s));

        QVERIFY(FileHelper::deleteContentOfDirectory(folder));
        QVERIFY(QDir(folder).exists());
        QVERIFY(
            QDir(folder)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .isEmpty());
        QCOMPARE(readFile(outside + u"/source.mp3"_s), QByteArray("source"));
        QCOMPARE(readFile(outside + u"/dir/inner.mp3"_s), QByteArray("inner"));

        QVERIFY(FileHelper::deleteContentOfDirectory(folder)); // empty stays empty
        QVERIFY(!FileHelper::deleteContentOfDirectory(environment.root() + u"/nothing"_s));
    }

    void selectsRecordsOfAudio()
    {
        const ItemList records{record(u"/a/ONE.MP3"_s), record(u"/mp3 rips/notes.txt"_s),
                               record(u"/a/cover.jpg"_s), record(u"/a/song.M4A"_s),
                               record(u"/a/two.mp3"_s), record(u"/a.flac/readme"_s)};
        const ItemList selected = FileHelper::selectMp3Files(records);
        // The same records, not copies, in order; a folder named for MP3s lists nothing.
        QCOMPARE(selected, (ItemList{records.at(0), records.at(3), records.at(4)}));
    }
};

QTEST_GUILESS_MAIN(TestFileHelper)
#include "tst_filehelper.moc"
