#include "AudiobookTableView.h"
#include "MediaMovie.h"
#include "Resources.h"
#include "TestSupport.h"

#include <QItemSelectionModel>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {
QString image(const AppController& c)
{
    return control<QPushButton>(c, u"ppButton"_s)->property("imageName").toString();
}
bool allEnabled(const AppController& c)
{
    return control<QPushButton>(c, u"ppButton"_s)->isEnabled() && control<QPushButton>(c, u"rwButton"_s)->isEnabled() &&
           control<QPushButton>(c, u"ffButton"_s)->isEnabled() && control<QSlider>(c, u"playbackSlider"_s)->isEnabled();
}
bool noneEnabled(const AppController& c)
{
    return !control<QPushButton>(c, u"ppButton"_s)->isEnabled() && !control<QPushButton>(c, u"rwButton"_s)->isEnabled() &&
           !control<QPushButton>(c, u"ffButton"_s)->isEnabled() && !control<QSlider>(c, u"playbackSlider"_s)->isEnabled();
}

struct Listed
{
    Listed()
    {
        app.durationFor = [](const QString& path) {
            return path.endsWith(u"b.mp3"_s) ? 20000 : 10000;
        };
        app.controller->applicationOpenFiles({u"/p/a.mp3"_s, u"/p/b.mp3"_s, u"/p/c.mp3"_s});
        if (app.controller->tableData().at(0)->pathColumn != u"/p/a.mp3"_s)
            app.controller->autoSort();
    }
    AppController& c() { return *app.controller; }
    // Selects a row and lets its file finish loading.
    void select(int row)
    {
        c().table()->selectRowIndexes({row}, false);
        QCoreApplication::processEvents();
    }
    TestEnvironment environment;
    TestApp app;
};
} // namespace

class TestPreview : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsWithNothingLoaded()
    {
        Listed l;
        AppController& c = l.c();
        QVERIFY(!c.preview().audioPreviewObject());
        QVERIFY(!c.preview().currentPreviewPath());
        QVERIFY(!c.preview().previewTimer());
        QVERIFY(noneEnabled(c));
        QCOMPARE(control<QPushButton>(c, u"ffButton"_s)->autoRepeatDelay(), 100);
        QCOMPARE(control<QPushButton>(c, u"ffButton"_s)->autoRepeatInterval(), 300);
        QCOMPARE(control<QPushButton>(c, u"rwButton"_s)->autoRepeatDelay(), 100);
        QCOMPARE(control<QPushButton>(c, u"rwButton"_s)->autoRepeatInterval(), 300);
        QVERIFY(control<QPushButton>(c, u"rwButton"_s)->autoRepeat() && control<QPushButton>(c, u"ffButton"_s)->autoRepeat());
        const QVariant before = control<QPushButton>(c, u"ppButton"_s)->property("imageName");
        c.preview().playPreview();
        QCOMPARE(control<QPushButton>(c, u"ppButton"_s)->property("imageName"), before);
    }

    void selectingLoadsWithoutPlaying()
    {
        Listed l;
        AppController& c = l.c();
        l.select(1);
        QVERIFY(c.preview().audioPreviewObject());
        QCOMPARE(c.preview().currentPreviewPath(), u"/p/b.mp3"_s);
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(allEnabled(c));
        QCOMPARE(image(c), u"play"_s);
        QCOMPARE(control<QSlider>(c, u"playbackSlider"_s)->maximum(), 20000);

        // The loaded record again: nothing reloads.
        const int opened = l.app.movieLog->opened;
        l.select(1);
        QCOMPARE(l.app.movieLog->opened, opened);
    }

    void playMovesTheSliderAndPauseStopsIt()
    {
        Listed l;
        AppController& c = l.c();
        l.select(0);
        c.preview().playPreview();
        QVERIFY(c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(c.preview().previewTimer() && c.preview().previewTimer()->isActive());
        QCOMPARE(c.preview().previewTimer()->interval(), 200);
        QCOMPARE(image(c), u"pause"_s);
        l.app.movie()->advance(1500);
        QTRY_COMPARE_WITH_TIMEOUT(control<QSlider>(c, u"playbackSlider"_s)->value(), 1500, 2000);
        c.preview().playPreview();
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(!c.preview().previewTimer());
        QCOMPARE(image(c), u"play"_s);
        l.app.movie()->advance(1000);
        QTest::qWait(300);
        QCOMPARE(control<QSlider>(c, u"playbackSlider"_s)->value(), 1500);

        control<QSlider>(c, u"playbackSlider"_s)->setSliderPosition(3000);
        c.preview().changePlaybackPosition(control<QSlider>(c, u"playbackSlider"_s));
        QCOMPARE(l.app.movie()->currentTime(), 3000);
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
    }

    void anotherRowStopsThePlayingFile()
    {
        Listed l;
        AppController& c = l.c();
        l.select(0);
        c.preview().playPreview();
        FakeMovie* first = l.app.movie();
        const int stops = l.app.movieLog->stops;
        l.select(1);
        QVERIFY(l.app.movieLog->stops > stops);
        QVERIFY(l.app.movie() != first);
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
        QCOMPARE(control<QSlider>(c, u"playbackSlider"_s)->maximum(), 20000);
        QCOMPARE(image(c), u"play"_s);
    }

    void anEmptySelectionFollowsPlayback()
    {
        Listed l;
        AppController& c = l.c();
        l.select(0);
        c.preview().playPreview();
        c.table()->deselectAll();
        QVERIFY(allEnabled(c));
        QCOMPARE(image(c), u"pause"_s);
        c.preview().playPreview();
        QVERIFY(noneEnabled(c));
        QCOMPARE(control<QSlider>(c, u"playbackSlider"_s)->value(), 0);
    }

    void aFileThatEndsIsNoticedAtTheNextPress()
    {
        Listed l;
        AppController& c = l.c();
        l.select(0);
        c.preview().playPreview();
        l.app.movie()->advance(20000);
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(c.preview().previewTimer());
        QCOMPARE(image(c), u"pause"_s);
        const int plays = l.app.movieLog->plays;
        c.preview().playPreview();
        QCOMPARE(l.app.movieLog->plays, plays + 1);
        QVERIFY(c.preview().previewTimer());
        QCOMPARE(image(c), u"pause"_s);
    }

    void stepsPlayWithoutTheTimer()
    {
        Listed l;
        AppController& c = l.c();
        l.select(0);
        c.preview().fastForwardPreview();
        QCOMPARE(l.app.movie()->currentTime(), 5000);
        QVERIFY(c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(!c.preview().previewTimer());
        QCOMPARE(image(c), u"play"_s);
        c.preview().rewindPreview();
        c.preview().rewindPreview();
        QCOMPARE(l.app.movie()->currentTime(), 0);
    }

    // The list changes while a file is still opening: the preview ends on the selected file.
    void aPendingLoadEndsOnTheSelectedFile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("selectedAfter");
        QTest::newRow("another row is selected") << u"select"_s << u"/p/b.mp3"_s;
        // The selection keeps its row number, where now another file stands.
        QTest::newRow("the row is dragged away") << u"move"_s << u"/p/b.mp3"_s;
        // The selection follows its file through the sort.
        QTest::newRow("files arrive around it") << u"arrive"_s << u"/p/a.mp3"_s;
    }

    void aPendingLoadEndsOnTheSelectedFile()
    {
        QFETCH(QString, change);
        QFETCH(QString, selectedAfter);
        Listed l;
        AppController& c = l.c();
        l.app.movieLog->holdLoads = true;
        l.select(0);
        QCOMPARE(l.app.movieLog->loading.size(), 1);
        QVERIFY(!c.preview().audioPreviewObject()); // nothing plays while the file opens
        c.preview().playPreview();
        QCOMPARE(l.app.movieLog->plays, 0);
        if (change == u"select"_s) {
            l.select(1);
        } else if (change == u"move"_s) {
            QMimeData mime;
            QVERIFY(c.tableViewWriteRows(c.table(), {0}, &mime));
            QVERIFY(c.tableViewAcceptDrop(c.table(), {c.table(), &mime}, 3, 1));
        } else {
            c.applicationOpenFiles({u"/p/0.mp3"_s, u"/p/~.mp3"_s}); // first and last
        }
        while (!l.app.movieLog->loading.isEmpty())
            l.app.movieLog->loading.constFirst()->finishLoading();
        QCoreApplication::processEvents();
        const ItemRecordPtr selected = c.tableData().at(c.table()->selectedRow());
        QCOMPARE(selected->pathColumn, selectedAfter);
        QCOMPARE(c.preview().currentPreviewPath(), selected->pathColumn);
        QVERIFY(c.preview().audioPreviewObject());
        QCOMPARE(control<QSlider>(c, u"playbackSlider"_s)->maximum(), l.app.durationFor(selected->pathColumn));
    }

    void anUnplayableFileLeavesTheControlsInert()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.createItem(u"/p/unplayable.mp3"_s);
        c.table()->selectRowIndexes({0}, false);
        QVERIFY(!c.preview().audioPreviewObject());
        QCOMPARE(c.preview().currentPreviewPath(), u"/p/unplayable.mp3"_s);
        QVERIFY(allEnabled(c));
        QCOMPARE(image(c), u"play"_s);
        QCOMPARE(control<QSlider>(c, u"playbackSlider"_s)->maximum(), 0);
        c.preview().playPreview();
        c.preview().fastForwardPreview();
        c.preview().rewindPreview();
        c.preview().changePlaybackPosition(control<QSlider>(c, u"playbackSlider"_s));
        QVERIFY(!c.preview().previewTimer());
    }

    void deletingAndClearingStopThePlayback()
    {
        Listed l;
        AppController& c = l.c();
        l.select(1);
        c.preview().playPreview();
        // Another row selected without loading it (as a selection that does
        // not change the loaded record would): deleting it leaves b playing.
        c.table()->selectionModel()->blockSignals(true);
        l.select(0);
        c.table()->selectionModel()->blockSignals(false);
        c.deleteRow();
        QCOMPARE(c.tableData().size(), 2);
        QVERIFY(c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(c.preview().previewTimer());

        // Deleting the playing row stops it; the file stays loaded.
        c.table()->selectionModel()->blockSignals(true);
        l.select(0); // b is row 0 now
        c.table()->selectionModel()->blockSignals(false);
        QCOMPARE(c.tableData().at(0)->pathColumn, u"/p/b.mp3"_s);
        c.deleteRow();
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(!c.preview().previewTimer());
        QVERIFY(c.preview().audioPreviewObject());
        QCOMPARE(c.preview().currentPreviewPath(), u"/p/b.mp3"_s);
        QVERIFY(noneEnabled(c));

        l.select(0);
        c.preview().playPreview();
        c.clearAllItems();
        QVERIFY(!c.preview().isPlaying(c.preview().audioPreviewObject()));
        QVERIFY(!c.preview().previewTimer());
        QVERIFY(noneEnabled(c));
    }

    // The real backend, without a sound device: it opens files in the background
    // and reads their length.
    void theRealPlayerOpensMp3Files_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: a real 5 s MP3
        QTest::addColumn<bool>("playable");
        QTest::newRow("an MP3 file") << QByteArray() << true;
        QTest::newRow("garbage named .mp3") << QByteArray(2000, 'z') << false;
    }

    void theRealPlayerOpensMp3Files()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, playable);
        TestEnvironment environment;
        const QString mp3 = environment.sources() + u"/real 5 s.mp3"_s;
        QVERIFY(content.isEmpty() ? makeMp3(mp3, 5) : writeFile(mp3, content));
        const auto movie = MediaMovie::movieWithFile(mp3);
        QVERIFY(movie);
        std::optional<bool> reported;
        movie->whenLoaded([&reported](bool plays) { reported = plays; });
        QVERIFY(!reported); // never from inside the call
        QTRY_VERIFY_WITH_TIMEOUT(reported.has_value(), MediaMovie::kLoadLimit + 1000);
        QCOMPARE(*reported, playable);
        if (!playable)
            return;
        QCOMPARE(movie->timeScale(), 1000);
        QVERIFY2(qAbs(movie->duration() - 5000) < 200,
                 qPrintable(QString::number(movie->duration())));
        QCOMPARE(movie->rate(), 0.0F);
        movie->setCurrentTime(2000);
        movie->stepForward();
        QTRY_VERIFY(movie->currentTime() >= 2000);
        // Playing must be safe on a machine without a sound device, as CI is.
        movie->play();
        QTest::qWait(300);
        movie->stop();
        QCOMPARE(movie->rate(), 0.0F);

        QVERIFY(!MediaMovie::movieWithFile(std::nullopt));
        QVERIFY(!MediaMovie::movieWithFile(environment.sources() + u"/missing.mp3"_s));
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
