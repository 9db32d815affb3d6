// A library's layout of folders from a book's tags: fields filled in,
// folders of empty fields left out, and names that every common file
// system takes.
#include "Layout.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void foldersComeFromTheTags_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("tags"); // author, narrator, series, number, title, year
        QTest::addColumn<QString>("folders");
        const QString library = u"{author}/{series}/{title}"_s;
        QTest::newRow("every field")
            << library << QStringList{u"Ann Author"_s, u"Ned"_s,       u"Sea Tales"_s,
                                      u"2"_s,          u"The Storm"_s, u"2004"_s}
            << u"Ann Author/Sea Tales/The Storm"_s;
        QTest::newRow("no series: its folder goes")
            << library << QStringList{u"Ann Author"_s, {}, {}, {}, u"The Storm"_s, {}}
            << u"Ann Author/The Storm"_s;
        QTest::newRow("nothing but a title")
            << library << QStringList{{}, {}, {}, {}, u"The Storm"_s, {}} << u"The Storm"_s;
        QTest::newRow("a number and a year beside the title")
            << u"{author}/{series}/{number} - {title} ({year})"_s
            << QStringList{u"Ann Author"_s, {}, u"Sea Tales"_s, u"2"_s, u"The Storm"_s,
                           u"2004-05-01"_s}
            << u"Ann Author/Sea Tales/2 - The Storm (2004)"_s;
        QTest::newRow("a slash and a colon")
            << library << QStringList{u"AC/DC"_s, {}, {}, {}, u"Title: A Subtitle"_s, {}}
            << u"AC-DC/Title - A Subtitle"_s;
        QTest::newRow("characters that file systems refuse")
            << library << QStringList{u"Who? <Me>"_s, {}, {}, {}, u"A \"quoted\" title..."_s, {}}
            << u"Who_ _Me_/A _quoted_ title"_s;
        QTest::newRow("a name of dots alone")
            << library << QStringList{u".."_s, {}, {}, {}, u"Book"_s, {}} << u"Book"_s;
        QTest::newRow("control characters and spaces")
            << library << QStringList{u" Ann\tAuthor \n"_s, {}, {}, {}, u"Book"_s, {}}
            << u"Ann Author/Book"_s;
    }
    void foldersComeFromTheTags()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, tags);
        QFETCH(QString, folders);
        BookTag book;
        book.artist = tags.value(0);
        book.narrator = tags.value(1);
        book.series = tags.value(2);
        book.seriesNumber = tags.value(3);
        book.title = tags.value(4);
        book.year = tags.value(5);
        QCOMPARE(Layout::foldersFor(pattern, book), folders);
    }

    // 300 bytes of a title in letters of two and four bytes: cut to 255
    // bytes between characters, never inside one.
    void longNamesAreCutBetweenCharacters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("two-byte letters") << QString(150, QChar(0x00E9));
        QTest::newRow("four-byte letters")
            << QString::fromUcs4(std::u32string(75, U'\U0001F4D6').data(), 75);
        QTest::newRow("ending in a space after the cut") << QString(254, u'a') + u"  bbbb"_s;
    }
    void longNamesAreCutBetweenCharacters()
    {
        QFETCH(QString, name);
        const QString safe = Layout::safeName(name);
        QVERIFY(safe.toUtf8().size() <= 255);
        QVERIFY(safe.toUtf8().size() > 250);
        QVERIFY(name.startsWith(safe));
        QCOMPARE(QString::fromUtf8(safe.toUtf8()), safe);
        QVERIFY(!safe.endsWith(u' '));
    }

    void patternsAreChecked()
    {
        QVERIFY(Layout::problemWith(u"{author}/{title}"_s).isEmpty());
        QVERIFY(Layout::problemWith(u"{author}/{mood}"_s).contains(u"not {mood}"_s));
        QVERIFY(!Layout::problemWith(u"  "_s).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
