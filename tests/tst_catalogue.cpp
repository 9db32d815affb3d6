#include "ArtworkWell.h"
#include "CatalogueAnswer.h"
#include "CatalogueSearch.h"
#include "CatalogueServer.h"
#include "DetailsChoice.h"
#include "Resources.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QBuffer>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

// Answers as the catalogues publish them, cut down to what a search returns.
QByteArray openLibraryAnswer(const QList<std::pair<QString, int>>& books)
{
    QByteArray docs;
    for (const auto& [title, year] : books) {
        if (!docs.isEmpty())
            docs += ',';
        docs +=
            R"({"title":")" + title.toUtf8() +
            R"(","author_name":["J. R. R. Tolkien"],"first_publish_year":)" +
            QByteArray::number(year) +
            R"(,"publisher":["George Allen & Unwin"],"isbn":["0261103342","9780261103344"],"cover_i":)" +
            QByteArray::number(year) + "}";
    }
    return R"({"numFound":)" + QByteArray::number(books.size()) +
           R"(,"start":0,"numFoundExact":true,"docs":[)" + docs + R"(],"q":"","offset":null})";
}

QByteArray googleAnswer(const QString& base, bool found)
{
    if (!found)
        return R"({"kind":"books#volumes","totalItems":0})";
    return (uR"({"kind":"books#volumes","totalItems":1,"items":[{"kind":"books#volume","id":"pD6arNyKyi8C",
      "volumeInfo":{"title":"The Hobbit","authors":["J. R. R. Tolkien"],"publisher":"HarperCollins",
      "publishedDate":"1937-09-21","description":"Bilbo Baggins enjoys a quiet life.\u0007 <b>Then</b>",
      "industryIdentifiers":[{"type":"ISBN_13","identifier":"9780261103344"}],
      "imageLinks":{"smallThumbnail":"%1/covers/b/id/1937-S.jpg","thumbnail":"%1/covers/b/id/1937-L.jpg"}}}]})"_s)
        .arg(base)
        .toUtf8();
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The catalogues as the tests want them: the Hobbit, found in both, with a cover.
void answerTheHobbit(CatalogueServer& server)
{
    server.answer = [&server](const QUrl& url) -> CatalogueServer::Reply {
        const QString path = url.path();
        if (path.startsWith(u"/ol/"_s))
            return {.body = openLibraryAnswer({{u"The Hobbit"_s, 1937}})};
        if (path.startsWith(u"/google/"_s))
            return {.body = googleAnswer(server.base(), true)};
        return {.body = png(300, 450), .type = "image/png"};
    };
}

struct Searched
{
    QList<CatalogueResult> results;
    QStringList problems;
    bool done = false;
};

Searched searchFor(CatalogueSearch& search, const CatalogueSearch::Query& query)
{
    Searched searched;
    const QMetaObject::Connection connection = QObject::connect(
        &search, &CatalogueSearch::searched,
        [&searched](const QList<CatalogueResult>& results, const QStringList& problems) {
            searched = {results, problems, true};
        });
    search.search(query);
    QElapsedTimer clock;
    clock.start();
    while (!searched.done && clock.elapsed() < 30000)
        QTest::qWait(20);
    QObject::disconnect(connection);
    return searched;
}

CatalogueResult result(const QString& title, const QString& author, const QString& year,
                       const QString& catalogue = u"Open Library"_s)
{
    CatalogueResult made;
    made.title = title;
    made.authors = {author};
    made.year = year;
    made.catalogue = catalogue;
    return made;
}

QString makeTool()
{
    return QCoreApplication::applicationDirPath() + u"/../bin/fablewick-make"_s;
}

QString bookTool()
{
    return QCoreApplication::applicationDirPath() + u"/../bin/fablewick-book"_s;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachAnswerGivesResultsOrOneLine_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("googleFinds");
        QTest::addColumn<int>("results");
        QTest::addColumn<QString>("problem");
        const QByteArray hobbit = openLibraryAnswer({{u"The Hobbit"_s, 1937}});
        QTest::newRow("found by both") << 200 << hobbit << 0 << true << 2 << QString();
        QTest::newRow("no result") << 200 << openLibraryAnswer({}) << 0 << false << 0 << QString();
        QTest::newRow("a 500") << 500 << QByteArray("oops") << 0 << true << 1
                               << u"Open Library answered with an error (HTTP 500)."_s;
        QTest::newRow("malformed") << 200 << QByteArray(R"({"docs":[{"title":)") << 0 << true << 1
                                   << u"Open Library's answer could not be read."_s;
        QTest::newRow("not its format") << 200 << QByteArray(R"(["The Hobbit"])") << 0 << true << 1
                                        << u"Open Library's answer could not be read."_s;
        QTest::newRow("too deep") << 200 << QByteArray(100, '[') + QByteArray(100, ']') << 0 << true
                                  << 1 << u"Open Library's answer could not be read."_s;
        QTest::newRow("huge") << 200 << R"({"docs":[)" + QByteArray(3 << 20, ' ') + "]}" << 0
                              << true << 1 << u"Open Library's answer was larger than 2 MB"_s;
        QTest::newRow("slow") << 200 << hobbit << 3000 << true << 1
                              << u"Open Library did not answer within 1 s."_s;
    }

    // Each catalogue's answer gives its results, or one line saying what
    // went wrong, while the other's results still come.
    void eachAnswerGivesResultsOrOneLine()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, library);
        QFETCH(int, delayMs);
        QFETCH(bool, googleFinds);
        QFETCH(int, results);
        QFETCH(QString, problem);
        TestEnvironment environment;
        CatalogueServer server;
        server.answer = [&](const QUrl& url) -> CatalogueServer::Reply {
            if (url.path().startsWith(u"/ol/"_s))
                return {.status = status, .body = library, .delayMs = delayMs};
            return {.body = googleAnswer(server.base(), googleFinds)};
        };
        CatalogueSearch search(CatalogueSearch::Addresses::configured(),
                               environment.home() + u"/cache"_s);
        search.setTimeout(1000);
        const Searched searched =
            searchFor(search, {.title = u"The Hobbit"_s, .author = u"Tolkien"_s, .isbn = {}});
        QVERIFY(searched.done);
        QCOMPARE(searched.results.size(), results);
        QCOMPARE(searched.problems.size(), problem.isEmpty() ? 0 : 1);
        if (!problem.isEmpty())
            QVERIFY2(searched.problems.first().startsWith(problem),
                     qPrintable(searched.problems.first()));
        const QList<QByteArray> asked = server.requestsFor("/ol/search.json");
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().contains("title=The%20Hobbit") ||
                asked.first().contains("title=The+Hobbit"));
        QVERIFY(asked.first().contains("author=Tolkien"));
        QVERIFY(asked.first().contains("User-Agent: Fablewick/"));
        if (results == 2) {
            // Plain text: a control character is a space, a tag is words.
            const CatalogueResult& google = searched.results.at(1);
            QCOMPARE(google.catalogue, u"Google Books"_s);
            QCOMPARE(google.description, u"Bilbo Baggins enjoys a quiet life.  <b>Then</b>"_s);
            QCOMPARE(google.year, u"1937"_s);
            QCOMPARE(searched.results.first().coverUrl,
                     server.base() + u"/covers/b/id/1937-L.jpg"_s);
        }
    }

    // No connection is one line too, and a search by ISBN asks for it.
    void anIsbnIsSearchedForAndNoConnectionIsSaid()
    {
        TestEnvironment environment;
        CatalogueServer server;
        answerTheHobbit(server);
        CatalogueSearch::Addresses addresses = CatalogueSearch::Addresses::configured();
        addresses.googleBooks = u"http://127.0.0.1:9/google"_s;
        CatalogueSearch search(addresses, environment.home() + u"/cache"_s);
        const Searched searched =
            searchFor(search, {.title = {}, .author = {}, .isbn = u"9780261103344"_s});
        QCOMPARE(searched.results.size(), 1);
        QCOMPARE(searched.results.first().isbn, u"9780261103344"_s);
        QCOMPARE(searched.problems.size(), 1);
        QVERIFY2(searched.problems.first().startsWith(u"Google Books could not be reached"_s),
                 qPrintable(searched.problems.first()));
        QVERIFY(server.requestsFor("/ol/search.json").first().contains("isbn=9780261103344"));
    }

    // An answer is kept for a day: the same search again asks nobody. Two
    // searches one after the other ask each catalogue a second apart.
    void answersAreKeptAndCataloguesAskedInTurn()
    {
        TestEnvironment environment;
        CatalogueServer server;
        answerTheHobbit(server);
        CatalogueSearch search(CatalogueSearch::Addresses::configured(),
                               environment.home() + u"/cache"_s);
        const CatalogueSearch::Query hobbit{.title = u"The Hobbit"_s, .author = {}, .isbn = {}};
        QCOMPARE(searchFor(search, hobbit).results.size(), 2);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(searchFor(search, hobbit).results.size(), 2);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(searchFor(search, {.title = u"Farmer Giles"_s, .author = {}, .isbn = {}})
                     .results.size(),
                 2);
        QCOMPARE(searchFor(search, {.title = u"Smith"_s, .author = {}, .isbn = {}}).results.size(),
                 2);
        QList<qint64> library;
        for (qsizetype i = 0; i < server.requests.size(); ++i) {
            if (server.requests.at(i).contains("/ol/"))
                library << server.requestedAtMs.at(i);
        }
        QCOMPARE(library.size(), 3);
        QVERIFY2(library.at(2) - library.at(1) >= 950,
                 qPrintable(QString::number(library.at(2) - library.at(1))));
    }

    void aCoverIsAnImageOfSensibleSize_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("taken");
        QTest::newRow("a cover") << png(300, 450) << true;
        QTest::newRow("not an image") << QByteArray("<html>Not found</html>") << false;
        QTest::newRow("a pixel") << png(1, 1) << false;
        QTest::newRow("too large") << png(7000, 20) << false;
    }

    void aCoverIsAnImageOfSensibleSize()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, taken);
        TestEnvironment environment;
        CatalogueServer server;
        server.answer = [&bytes](const QUrl&) -> CatalogueServer::Reply {
            return {.body = bytes, .type = "image/png"};
        };
        CatalogueSearch search(CatalogueSearch::Addresses::configured(),
                               environment.home() + u"/cache"_s);
        QSignalSpy fetched(&search, &CatalogueSearch::imageFetched);
        QSignalSpy failed(&search, &CatalogueSearch::imageFailed);
        search.fetchImage(server.base() + u"/covers/b/id/1-L.jpg"_s);
        QTRY_VERIFY(!fetched.isEmpty() || !failed.isEmpty());
        QCOMPARE(fetched.size(), taken ? 1 : 0);
    }

    void theBestMatchIsTakenOnlyWhenUnambiguous_data()
    {
        QTest::addColumn<QList<CatalogueResult>>("results");
        QTest::addColumn<QString>("taken");
        QTest::addColumn<QString>("why");
        const CatalogueResult library = result(u"The Hobbit"_s, u"J. R. R. Tolkien"_s, u"1937"_s);
        CatalogueResult google =
            result(u"The Hobbit"_s, u"J.R.R. Tolkien"_s, u"1937"_s, u"Google Books"_s);
        google.description = u"Bilbo"_s;
        QTest::newRow("one") << QList{library} << u"Open Library"_s << QString();
        QTest::newRow("one book, two catalogues")
            << QList{library, google} << u"Google Books"_s << QString();
        QTest::newRow("two alike")
            << QList{library, result(u"The Hobbit"_s, u"J. R. R. Tolkien"_s, u"1966"_s)}
            << QString() << u"Two books are alike"_s;
        QTest::newRow("none matching")
            << QList{result(u"Hobbits"_s, u"Someone"_s, u"2001"_s),
                     result(u"The Hobbit Companion"_s, u"Else"_s, u"2002"_s)}
            << QString() << u"none has the title"_s;
        QTest::newRow("none") << QList<CatalogueResult>{} << QString() << u"No catalogue"_s;
    }

    void theBestMatchIsTakenOnlyWhenUnambiguous()
    {
        QFETCH(QList<CatalogueResult>, results);
        QFETCH(QString, taken);
        QFETCH(QString, why);
        QString said;
        const auto best = DetailsChoice::bestMatch(
            results, {.title = u"the hobbit"_s, .author = u"J R R Tolkien"_s, .isbn = {}}, said);
        QCOMPARE(best ? best->catalogue : QString(), taken);
        QVERIFY2(said.contains(why), qPrintable(said));
    }

    void anIsbnIsFoundByItsCheckDigit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("isbn");
        QTest::newRow("hyphenated 13") << u"ISBN 978-0-261-10334-4"_s << u"9780261103344"_s;
        QTest::newRow("10 with X") << u"The Hobbit [080442957X]"_s << u"080442957X"_s;
        QTest::newRow("wrong check digit") << u"9780261103345"_s << QString();
        QTest::newRow("a phone number") << u"Call 0123456780 now"_s << QString();
    }

    void anIsbnIsFoundByItsCheckDigit()
    {
        QFETCH(QString, text);
        QFETCH(QString, isbn);
        QCOMPARE(DetailsChoice::isbnIn(text), isbn);
    }

    // Through the window: a search from the Audiobook menu, two fields of
    // the result taken and one left, by mouse and key, and Undo.
    void aResultIsTakenFieldByFieldInTheWindow()
    {
        TestEnvironment environment;
        CatalogueServer server;
        answerTheHobbit(server);
        TestApp app;
        AppController& c = *app.controller;
        activate(c);
        c.window()->findChild<QAction*>(u"actionFindBookDetails"_s)->trigger();
        auto* sheet = c.window()->findChild<QDialog*>(u"detailsSheet"_s);
        QVERIFY(sheet->isVisible());
        QVERIFY(server.requests.isEmpty());
        auto* title = sheet->findChild<QLineEdit*>(u"detailsTitle"_s);
        title->clear();
        QTest::keyClicks(title, u"The Hobbit"_s);
        QTest::mouseClick(sheet->findChild<QPushButton*>(u"detailsSearch"_s), Qt::LeftButton);
        auto* results = sheet->findChild<QListWidget*>(u"detailsResults"_s);
        QTRY_COMPARE(results->count(), 2);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(results);
        QVERIFY2(
            list->child(0)
                ->text(QAccessible::Name)
                .startsWith(
                    u"The Hobbit — J. R. R. Tolkien (1937) · George Allen & Unwin · Open Library"_s),
            qPrintable(list->child(0)->text(QAccessible::Name)));
        auto* fields = sheet->findChild<QTreeWidget*>(u"detailsFields"_s);
        // The cover comes, is shown, and is offered as a field of its own.
        QTRY_COMPARE(fields->topLevelItemCount(), 5);
        QStringList offered;
        for (int i = 0; i < fields->topLevelItemCount(); ++i)
            offered << fields->topLevelItem(i)->text(0);
        QCOMPARE(offered,
                 (QStringList{u"Title"_s, u"Author"_s, u"Album"_s, u"Year"_s, u"Cover"_s}));
        for (int i = 0; i < fields->topLevelItemCount(); ++i)
            QCOMPARE(fields->topLevelItem(i)->checkState(0), Qt::Checked);
        // Leave the album by the mouse, the year and the cover by the keyboard.
        fields->setFocus();
        for (int row : {3, 4}) {
            fields->setCurrentItem(fields->topLevelItem(row));
            QTest::keyClick(fields, Qt::Key_Space);
        }
        fields->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(fields->topLevelItem(3)->checkState(0), Qt::Unchecked);
        QTest::mouseClick(sheet->findChild<QPushButton*>(u"detailsTake"_s), Qt::LeftButton);
        QVERIFY(!sheet->isVisible());
        // As the tag sheet shows them.
        const auto shown = [&c] {
            c.startTagging();
            QStringList texts;
            for (const char16_t* name : {u"title", u"artist", u"album", u"year"})
                texts << control<QLineEdit>(c, QString::fromUtf16(name))->text();
            texts << (control<ArtworkWell>(c, u"artwork"_s)->image().isNull() ? u"no cover"_s
                                                                              : u"a cover"_s);
            c.stopTagging();
            return texts;
        };
        QCOMPARE(shown(), (QStringList{u"The Hobbit"_s, u"J. R. R. Tolkien"_s, QString(), QString(),
                                       u"no cover"_s}));
        activate(c);
        QTest::keyClick(c.window(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(shown(), (QStringList{QString(), QString(), QString(), QString(), u"no cover"_s}));
    }

    void theCommandLineTakesOnlyAnUnambiguousMatch_data()
    {
        QTest::addColumn<bool>("tagVerb");
        QTest::addColumn<QList<int>>("years");
        QTest::addColumn<QString>("said");
        QTest::newRow("make, unambiguous")
            << false << QList<int>{1937} << u"Book details from Google Books"_s;
        QTest::newRow("make, ambiguous") << false << QList<int>{1937, 1966}
                                         << u"Book details were not taken: Two books are alike"_s;
        QTest::newRow("tag, unambiguous")
            << true << QList<int>{1937} << u"Book details from Google Books"_s;
        QTest::newRow("tag, ambiguous") << true << QList<int>{1937, 1966}
                                        << u"Book details were not taken: Two books are alike"_s;
    }

    // fablewick-make --details on a folder named as the book, or
    // fablewick-book tag --details on a book made without: the book carries
    // what was taken, as ffprobe and AtomicParsley read it.
    void theCommandLineTakesOnlyAnUnambiguousMatch()
    {
        QFETCH(bool, tagVerb);
        QFETCH(QList<int>, years);
        QFETCH(QString, said);
        TestEnvironment environment;
        CatalogueServer server;
        server.answer = [&](const QUrl& url) -> CatalogueServer::Reply {
            if (url.path().startsWith(u"/ol/"_s)) {
                QList<std::pair<QString, int>> books;
                for (int year : years)
                    books.append({u"The Hobbit"_s, year});
                return {.body = openLibraryAnswer(books)};
            }
            if (url.path().startsWith(u"/google/"_s))
                return {.body = googleAnswer(server.base(), true)};
            return {.body = png(300, 450), .type = "image/png"};
        };
        const QString folder = environment.sources() + u"/The Hobbit"_s;
        QDir().mkpath(folder);
        QVERIFY(makeMp3(folder + u"/01.mp3"_s, 3));
        const QString book = environment.root() + u"/Book.m4b"_s;
        const QStringList made{folder, u"--artist"_s, u"J. R. R. Tolkien"_s, u"-o"_s, book};
        const auto run = [](const QString& tool, const QStringList& arguments) {
            QProcess process;
            process.setProcessChannelMode(QProcess::MergedChannels);
            process.start(tool, arguments);
            // The catalogues answer from this process: its events run meanwhile.
            QElapsedTimer clock;
            clock.start();
            while (process.state() != QProcess::NotRunning && clock.elapsed() < 120000)
                QTest::qWait(50);
            const QString out = QString::fromUtf8(process.readAll());
            return process.state() == QProcess::NotRunning && process.exitCode() == 0
                       ? std::optional<QString>(out)
                       : std::nullopt;
        };
        std::optional<QString> out;
        if (tagVerb) {
            QVERIFY(run(makeTool(), made + QStringList{u"--title"_s, u"The Hobbit"_s}));
            out = run(bookTool(), {u"tag"_s, book, u"--details"_s});
        } else {
            out = run(makeTool(), made + QStringList{u"--details"_s});
        }
        QVERIFY(out);
        QVERIFY2(out->contains(said), qPrintable(*out));
        const QJsonObject tags = probe(book)[u"format"_s][u"tags"_s].toObject();
        const QString atoms = QString::fromUtf8(*toolOutput(
            Resources::pathForResource(u"AtomicParsley"_s, QString()).value_or(QString()),
            {book, u"-t"_s}));
        if (years.size() == 1) {
            QCOMPARE(tags[u"date"_s].toString(), u"1937"_s);
            QVERIFY2(tags[u"description"_s].toString().startsWith(u"Bilbo Baggins"_s),
                     qPrintable(tags[u"description"_s].toString()));
            QVERIFY2(atoms.contains(u"Atom \"covr\" contains: 1 piece of artwork"_s),
                     qPrintable(atoms));
        } else {
            QVERIFY(!tags.contains(u"date"_s));
            QVERIFY2(!atoms.contains(u"covr"_s), qPrintable(atoms));
        }
        // Untaken, the book is titled as it is named.
        QCOMPARE(tags[u"title"_s].toString(),
                 years.size() == 1 || tagVerb ? u"The Hobbit"_s : u"Book"_s);
        QCOMPARE(tags[u"artist"_s].toString(), u"J. R. R. Tolkien"_s);
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
