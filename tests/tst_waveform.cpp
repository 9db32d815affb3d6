#include "TestSupport.h"
#include "WaveformStrip.h"

#include <QAccessible>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// Three files of a tone and silences at known times in the book: 0-3 s
// sound, 3-4 s silence; 4-6 s silence, 6-9 s sound; 9-19 s sound, 19-21 s
// silence, 21-28 s sound, 28-30 s silence, 30-39 s sound. Each file is a
// chapter.
QStringList makeBook(const TestEnvironment& environment)
{
    const std::pair<const char16_t*, const char16_t*> files[] = {
        {u"1 First.flac", u"if(lt(t,3),0.5*sin(2*PI*440*t),0):d=4"},
        {u"2 Second.flac", u"if(gte(t,2),0.5*sin(2*PI*440*t),0):d=5"},
        {u"3 Third.flac", u"if(lt(t,10)+between(t,12,19)+gte(t,21),0.5*sin(2*PI*440*t),0):d=30"},
    };
    QStringList paths;
    for (const auto& [name, sound] : files) {
        paths << environment.sources() + u'/' + QString::fromUtf16(name);
        runFfmpeg({u"-f"_s, u"lavfi"_s, u"-i"_s,
                   u"aevalsrc='%1':s=22050"_s.arg(QString::fromUtf16(sound)), paths.constLast()});
    }
    return paths;
}

WaveformStrip* strip(const AppController& c)
{
    return control<WaveformStrip>(c, u"waveform"_s);
}

// Each mark as a screen reader reads it.
QStringList marksRead(WaveformStrip* strip)
{
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(strip);
    QStringList marks;
    for (int i = 0; i < read->childCount(); ++i)
        marks << read->child(i)->text(QAccessible::Name);
    return marks;
}

// Where a mark is drawn, by what a screen reader is told of it.
QPoint markPlace(WaveformStrip* strip, int mark)
{
    const QRect shown = QAccessible::queryAccessibleInterface(strip)->child(mark)->rect();
    return strip->mapFromGlobal(shown.center());
}

// Find Chapters by Silence, through its sheet; true once it has closed.
bool findBySilence(const AppController& c)
{
    c.window()->findChild<QAction*>(u"actionFindChapters"_s)->trigger();
    auto* sheet = c.window()->findChild<QDialog*>(u"silenceSheet"_s);
    sheet->findChild<QDoubleSpinBox*>(u"shortestSilence"_s)->setValue(0.8);
    sheet->findChild<QDoubleSpinBox*>(u"chapterMinutes"_s)->setValue(0);
    sheet->findChild<QPushButton*>(u"silenceSearch"_s)->click();
    QElapsedTimer clock;
    clock.start();
    while (sheet->isVisible() && clock.elapsed() < 60000)
        QTest::qWait(50);
    return !sheet->isVisible();
}

int xFor(WaveformStrip* strip, double seconds)
{
    return static_cast<int>(std::lround(strip->xOf(seconds)));
}

} // namespace

class TestWaveform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        mEnvironment = std::make_unique<TestEnvironment>();
        mApp = std::make_unique<TestApp>(u"http://127.0.0.1:9/feed.xml"_s, MovieOpener(),
                                         mEnvironment->home() + u"/.cache/peaks"_s);
        AppController& c = *mApp->controller;
        const QStringList paths = makeBook(*mEnvironment);
        activate(c);
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        // Files opened at once are sorted, each sort the other way.
        if (c.tableData().first()->pathColumn != paths.first())
            QTest::mouseClick(control<QPushButton>(c, u"sortButton"_s), Qt::LeftButton);
        QCOMPARE(c.tableData().first()->pathColumn, paths.first());
        c.window()->resize(900, 800);
        // The summaries are asked for as the strip is drawn.
        const auto drawn = [&c] {
            const QImage image = strip(c)->grab().toImage();
            const int high = strip(c)->waveArea().top() + strip(c)->waveArea().height() / 4;
            const QColor base = strip(c)->palette().color(QPalette::Base);
            return image.pixelColor(xFor(strip(c), 1.5), high) != base &&
                   image.pixelColor(xFor(strip(c), 7.5), high) != base &&
                   image.pixelColor(xFor(strip(c), 15), high) != base;
        };
        QTRY_VERIFY_WITH_TIMEOUT(drawn(), 20000);
    }
    void cleanup()
    {
        mApp.reset();
        mEnvironment.reset();
    }

    // The drawn strip has sound where the files sound, nothing in their
    // silences, a mark where each chapter starts, and after a search the
    // silences it found shaded.
    void theStripShowsTheSoundMarksAndSilencesWhereTheyAre()
    {
        AppController& c = *mApp->controller;
        WaveformStrip* shown = strip(c);
        QCOMPARE(marksRead(shown), (QStringList{u"1 First, 0:00:00.0"_s, u"2 Second, 0:00:04.0"_s,
                                                u"3 Third, 0:00:09.0"_s}));
        const QColor base = shown->palette().color(QPalette::Base);
        const QColor highlight = shown->palette().color(QPalette::Highlight);
        const auto at = [&](double seconds, int y) {
            return shown->grab().toImage().pixelColor(xFor(shown, seconds), y);
        };
        // Above the middle, where a tone's bar reaches and silence's does not.
        const int high = shown->waveArea().top() + shown->waveArea().height() / 4;
        for (const double sounding : {0.5, 2.5, 6.5, 8.5, 10.0, 18.0, 25.0, 35.0})
            QVERIFY2(at(sounding, high) != base, qPrintable(u"no sound at %1 s"_s.arg(sounding)));
        for (const double quiet : {3.3, 3.7, 4.5, 5.5, 20.0, 29.0})
            QVERIFY2(at(quiet, high) == base, qPrintable(u"sound at %1 s"_s.arg(quiet)));
        for (const double mark : {4.0, 9.0}) {
            const QImage image = shown->grab().toImage();
            const int x = xFor(shown, mark);
            QVERIFY2(image.pixelColor(x - 1, high) == highlight ||
                         image.pixelColor(x, high) == highlight,
                     qPrintable(u"no mark at %1 s"_s.arg(mark)));
        }

        QVERIFY(findBySilence(c));
        // Shaded where the search found silence, plain where it found sound.
        const QColor silence = at(5.0, high);
        QVERIFY(silence != base);
        QCOMPARE(at(20.0, high), silence);
        QCOMPARE(at(1.0, shown->waveArea().top() + 1), base);
    }

    // A mark dragged moves its chapter, snapped into the silence; Undo puts
    // it back. A double-click adds a chapter, and so does Insert at the
    // keyboard's cursor, moved by seconds and tenths.
    void marksAreMovedAndAddedByMouseAndKeys()
    {
        AppController& c = *mApp->controller;
        WaveformStrip* shown = strip(c);
        const QPoint from = markPlace(shown, 1);
        QCOMPARE(from.x(), xFor(shown, 4.0));
        QTest::mousePress(shown, Qt::LeftButton, {}, from);
        QTest::mouseMove(shown, QPoint(xFor(shown, 5.0), from.y()));
        QTest::mouseMove(shown, QPoint(xFor(shown, 5.2), from.y()));
        QTest::mouseRelease(shown, Qt::LeftButton, {}, QPoint(xFor(shown, 5.2), from.y()));
        QStringList read = marksRead(shown);
        QCOMPARE(read.size(), 3);
        QVERIFY2(read.at(1).endsWith(u"0:00:05.2"_s), qPrintable(read.join(u" | "_s)));
        QTest::keyClick(c.window(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(marksRead(shown).at(1), u"2 Second, 0:00:04.0"_s);

        QTest::mouseDClick(shown, Qt::LeftButton, {}, QPoint(xFor(shown, 10.5), 60));
        read = marksRead(shown);
        QCOMPARE(read.size(), 4);
        QVERIFY2(read.at(3).endsWith(u"0:00:10.5"_s), qPrintable(read.join(u" | "_s)));

        shown->setFocus();
        QTest::keyClick(shown, Qt::Key_Home);
        QTest::keyClick(shown, Qt::Key_Right);
        QTest::keyClick(shown, Qt::Key_Right);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(shown, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(QAccessible::queryAccessibleInterface(shown)->text(QAccessible::Value),
                 u"Cursor at 0:00:02.4"_s);
        QTest::keyClick(shown, Qt::Key_Insert);
        read = marksRead(shown);
        QCOMPARE(read.size(), 5);
        QVERIFY2(read.at(1).endsWith(u"0:00:02.4"_s), qPrintable(read.join(u" | "_s)));
        // Page Down goes to the next mark and chooses its chapter in the list too.
        QTest::keyClick(shown, Qt::Key_PageDown);
        QCOMPARE(control<QTableView>(c, u"chapterTable"_s)->currentIndex().row(), 2);
        QTest::keyClick(shown, Qt::Key_Delete);
        QCOMPARE(marksRead(shown).size(), 4);
        QTest::keyClick(c.window(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(marksRead(shown).at(2), u"2 Second, 0:00:04.0"_s);
    }

    // A click moves the preview to that time of its file without playing,
    // Space plays from the cursor, and the preview's place is drawn as a line.
    void aClickMovesThePreview()
    {
        AppController& c = *mApp->controller;
        WaveformStrip* shown = strip(c);
        QTest::mouseClick(shown, Qt::LeftButton, {}, QPoint(xFor(shown, 7.0), 60));
        // Where the pixel clicked is, within its width.
        const auto movedTo = [this] {
            const QList<qint64>& seeks = mApp->movieLog->seeks;
            return std::any_of(seeks.begin(), seeks.end(),
                               [](qint64 at) { return qAbs(at - 3000) < 50; });
        };
        QTRY_VERIFY(movedTo());
        QCOMPARE(mApp->movieLog->plays, 0);
        QCOMPARE(c.table()->currentIndex().row(), 1);
        const auto lineAt = [shown](double seconds) {
            const QImage image = shown->grab().toImage();
            const int y = shown->waveArea().center().y();
            const QColor line(0xd0, 0x2b, 0x20);
            return image.pixelColor(xFor(shown, seconds), y) == line ||
                   image.pixelColor(xFor(shown, seconds) - 1, y) == line;
        };
        QTRY_VERIFY(lineAt(7.0));
        QVERIFY(!lineAt(8.0));
        QTest::keyClick(shown, Qt::Key_Space);
        QTRY_COMPARE(mApp->movieLog->plays, 1);
    }

    // Zoom to Chapter shows the chosen chapter across the strip; the wheel
    // and the keys zoom about a place that stays put.
    void theStripZoomsToAChapter()
    {
        AppController& c = *mApp->controller;
        WaveformStrip* shown = strip(c);
        auto* table = control<QTableView>(c, u"chapterTable"_s);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(table->model()->index(1, 0)).center());
        QTest::keyClick(c.window(), Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
        // The second chapter runs from 4 s to 9 s.
        QVERIFY(qAbs(markPlace(shown, 1).x() - shown->width() * 0.02 / 1.04) <= 2);
        QVERIFY(qAbs(markPlace(shown, 2).x() - shown->width() * 1.02 / 1.04) <= 2);

        const double before = shown->timeAt(300);
        QWheelEvent wheel(QPointF(300, 60), shown->mapToGlobal(QPointF(300, 60)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(shown, &wheel);
        QVERIFY(shown->viewSeconds() < 5.2 / 1.2);
        QVERIFY(qAbs(shown->timeAt(300) - before) < 0.01);
        shown->setFocus();
        QTest::keyClick(shown, Qt::Key_0);
        QCOMPARE(markPlace(shown, 2).x(), xFor(shown, 9.0));
        QVERIFY(qAbs(markPlace(shown, 2).x() - shown->width() * 9 / 39) <= 1);
    }

    // A proposed start is chosen on the strip and taken with the list's
    // key; another is dropped with Delete.
    void aProposalIsTakenAndDroppedOnTheStrip()
    {
        AppController& c = *mApp->controller;
        WaveformStrip* shown = strip(c);
        c.window()->findChild<QAction*>(u"actionOneChapterPerFile"_s)->trigger();
        QVERIFY(findBySilence(c));
        activate(c);
        QStringList read = marksRead(shown);
        const qsizetype proposals = read.filter(u"Proposed start"_s).size();
        QVERIFY2(proposals >= 1, qPrintable(read.join(u" | "_s)));
        const int first = static_cast<int>(read.indexOf(read.filter(u"Proposed start"_s).first()));
        QTest::mouseClick(shown, Qt::LeftButton, {}, markPlace(shown, first));
        QVERIFY(shown->hasFocus());
        QTest::keyClick(shown, Qt::Key_Return, Qt::ControlModifier);
        read = marksRead(shown);
        QCOMPARE(read.filter(u"Proposed start"_s).size(), proposals - 1);
        QVERIFY2(!read.at(first).startsWith(u"Proposed"_s), qPrintable(read.join(u" | "_s)));
        if (proposals > 1) {
            const int next =
                static_cast<int>(read.indexOf(read.filter(u"Proposed start"_s).first()));
            QTest::mouseClick(shown, Qt::LeftButton, {}, markPlace(shown, next));
            QTest::keyClick(shown, Qt::Key_Delete);
            QCOMPARE(marksRead(shown).filter(u"Proposed start"_s).size(), proposals - 2);
        }
    }

private:
    std::unique_ptr<TestEnvironment> mEnvironment;
    std::unique_ptr<TestApp> mApp;
};

QTEST_MAIN(TestWaveform)
#include "tst_waveform.moc"
