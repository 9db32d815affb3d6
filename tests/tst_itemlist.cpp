#include "AudiobookTableView.h"
#include "IconCellDelegate.h"
#include "ItemTableModel.h"
#include "TestSupport.h"
#include "TitleCellDelegate.h"

#include <QFile>
#include <QFont>
#include <QMainWindow>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {
QStringList listedPaths(const AppController& controller)
{
    QStringList paths;
    for (const ItemRecordPtr& record : controller.tableData())
        paths << record->pathColumn;
    return paths;
}
} // namespace

class TestItemList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsEmptyAndAscending()
    {
        TestEnvironment environment;
        QApplication::setQuitOnLastWindowClosed(false);
        TestApp app;
        AppController& c = *app.controller;
        QVERIFY(c.tableData().isEmpty());
        QVERIFY(!c.atLeastOneAdded());
        QVERIFY(!c.atLeastOneSelected());
        QCOMPARE(c.state(), RunState::Idle);
        QVERIFY(c.sortAscending());
        QVERIFY(c.window()->isVisible());
        QCOMPARE(app.soundPath.value_or(QString()).section(u'/', -1), u"complete.aiff"_s);
        QVERIFY(QApplication::quitOnLastWindowClosed()); // closing the window quits
        QCOMPARE(c.tableModel()->rowCount(), 0);
    }

    // A sort or an addition tells the view what changed: the selected file stays
    // selected wherever it goes, and the list does not jump back to the top.
    void theSelectionAndScrollSurviveChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("a sort") << u"sort"_s;
        QTest::newRow("an added file") << u"add"_s;
    }

    void theSelectionAndScrollSurviveChanges()
    {
        QFETCH(QString, change);
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        QStringList paths;
        for (int i = 0; i < 40; ++i)
            paths << u"/book/%1.mp3"_s.arg(i, 2, 10, QLatin1Char(u'0'));
        c.applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(c));
        c.window()->resize(700, 400);
        QVERIFY(QTest::qWaitForWindowExposed(c.window()));
        AudiobookTableView* table = c.table();
        table->selectRowIndexes({25}, false);
        const QString selected = c.tableData().at(25)->pathColumn;
        table->scrollTo(table->model()->index(25, 1));
        const int scrolled = table->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        if (change == u"sort"_s)
            QTest::keyClick(c.window(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        else
            c.applicationOpenFiles({u"/book/00a.mp3"_s});
        QCOMPARE(table->selectedRowIndexes().size(), 1);
        if (change == u"sort"_s)
            QCOMPARE(table->selectedRow(), 14); // the order is reversed
        QCOMPARE(c.tableData().at(table->selectedRow())->pathColumn, selected);
        QCOMPARE(table->verticalScrollBar()->value(), scrolled);
    }

    void addedFilesShowTheirProperties()
    {
        TestEnvironment environment;
        const QString a = environment.sources() + u"/Chapter One.mp3"_s;
        const QString b = environment.sources() + u"/notes.v2.mp3"_s;
        QVERIFY(makeMp3(a, 2, 44100, 2, 128));
        QVERIFY(makeMp3(b, 2, 22050, 1, 64));
        TestApp app;
        AppController& c = *app.controller;
        c.createItem(a);
        c.createItem(b);
        QCOMPARE(c.tableData().size(), 2);
        QVERIFY(waitUntilListed(c)); // read in the background
        const ItemRecord& first = *c.tableData().at(listedPaths(c).indexOf(a));
        QCOMPARE(first.titleColumn, u"Chapter One"_s);
        QCOMPARE(first.bitrateColumn, u"128"_s);
        QCOMPARE(first.sampleFrequencyColumn, u"44100"_s);
        QVERIFY(!first.iconColumn.isNull());
        QCOMPARE(first.iconColumn.availableSizes().value(0), QSize(32, 32));
        const ItemRecord& second = *c.tableData().at(listedPaths(c).indexOf(b));
        QCOMPARE(second.titleColumn, u"notes.v2"_s);
        QCOMPARE(second.sampleFrequencyColumn, u"22050"_s);

        // What the table shows comes from the records, under the column keys.
        ItemTableModel* model = c.tableModel();
        const int row = static_cast<int>(listedPaths(c).indexOf(a));
        const TableColumn title = model->column(u"titleColumn"_s);
        const TableColumn bitrate = model->column(u"bitrateColumn"_s);
        const TableColumn icon = model->column(u"iconColumn"_s);
        QCOMPARE(model->index(row, title.index).data().toString(), u"Chapter One"_s);
        QCOMPARE(model->index(row, bitrate.index).data().toString(), u"128"_s);
        QVERIFY(!model->index(row, icon.index).data(Qt::DecorationRole).isNull());
        QCOMPARE(c.tableViewObjectValueForTableColumn(c.table(), {u"noSuchKey"_s, 9}, row),
                 QVariant());
        QVERIFY(!(model->flags(model->index(row, bitrate.index)) & Qt::ItemIsEditable));
        QVERIFY(model->flags(model->index(row, title.index)) & Qt::ItemIsEditable);
    }

    void unreadableFilesAreListedWithEmptyCells()
    {
        TestEnvironment environment;
        TestApp app;
        const QString missing = environment.sources() + u"/gone.mp3"_s;
        app.controller->createItem(missing);
        QCOMPARE(app.controller->tableData().size(), 1);
        QCOMPARE(app.controller->tableData().at(0)->bitrateColumn, QString());
        QCOMPARE(app.controller->tableData().at(0)->sampleFrequencyColumn, QString());
        QVERIFY(!app.controller->tableData().at(0)->iconColumn.isNull());
    }

    void duplicatesSelectTheirRowAndAddNothing()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.createItem(u"/Books/x.mp3"_s);
        c.createItem(u"/books/x.mp3"_s);
        c.createItem(u"/Books/y.mp3"_s);
        QCOMPARE(c.tableData().size(), 3);
        const QStringList before = listedPaths(c);
        const bool direction = c.sortAscending();
        c.table()->selectRowIndexes({0, 1}, false);
        c.createItem(u"/books/x.mp3"_s);
        QCOMPARE(listedPaths(c), before);
        QCOMPARE(c.sortAscending(), direction);
        QCOMPARE(c.table()->selectedRowIndexes(),
                 QList<int>{static_cast<int>(before.indexOf(u"/books/x.mp3"_s))});
    }

    void sortIsPlainAndFlipsAtEveryCall()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        // Three additions sort ascending, descending, ascending.
        c.createItem(u"/d/2.mp3"_s);
        c.createItem(u"/d/10.mp3"_s);
        c.createItem(u"/d/1.mp3"_s);
        QCOMPARE(listedPaths(c), (QStringList{u"/d/1.mp3"_s, u"/d/10.mp3"_s, u"/d/2.mp3"_s}));
        QVERIFY(!c.sortAscending());
        c.autoSort();
        QCOMPARE(listedPaths(c), (QStringList{u"/d/2.mp3"_s, u"/d/10.mp3"_s, u"/d/1.mp3"_s}));
        c.autoSort();
        QCOMPARE(listedPaths(c), (QStringList{u"/d/1.mp3"_s, u"/d/10.mp3"_s, u"/d/2.mp3"_s}));

        TestApp fresh;
        fresh.controller->createItem(u"/d/a.mp3"_s);
        fresh.controller->createItem(u"/d/B.mp3"_s);
        fresh.controller->autoSort();
        QCOMPARE(listedPaths(*fresh.controller), (QStringList{u"/d/B.mp3"_s, u"/d/a.mp3"_s}));
    }

    void threeSortPressesOnAFreshStart()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles({u"/s/b.mp3"_s, u"/s/a.mp3"_s, u"/s/c.mp3"_s});
        // Three additions and the final sort: four flips, so the next sort is ascending.
        QVERIFY(c.sortAscending());
        c.autoSort();
        QCOMPARE(listedPaths(c), (QStringList{u"/s/a.mp3"_s, u"/s/b.mp3"_s, u"/s/c.mp3"_s}));
        c.autoSort();
        QCOMPARE(listedPaths(c), (QStringList{u"/s/c.mp3"_s, u"/s/b.mp3"_s, u"/s/a.mp3"_s}));
        c.autoSort();
        QCOMPARE(listedPaths(c), (QStringList{u"/s/a.mp3"_s, u"/s/b.mp3"_s, u"/s/c.mp3"_s}));
    }

    // However many files arrive, and over however many turns of the window,
    // the list ends as a sort after each added file would leave it.
    void manyFilesEndAsASortAfterEachWould_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("openedWithTheApplication");
        QTest::newRow("a few, opened with the application") << 5 << true;
        QTest::newRow("hundreds, opened with the application") << 301 << true;
        QTest::newRow("hundreds, from the open panel") << 300 << false;
    }

    void manyFilesEndAsASortAfterEachWould()
    {
        QFETCH(int, count);
        QFETCH(bool, openedWithTheApplication);
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        // Some are listed already: they add nothing and sort nothing.
        c.createItem(u"/m/0007.mp3"_s);
        c.createItem(u"/m/0100.mp3"_s);
        QStringList paths;
        for (int i = count; i > 0; --i)
            paths << u"/m/%1.mp3"_s.arg((i * 37) % 1000, 4, 10, QLatin1Char(u'0'));
        paths.insert(paths.size() / 2, u"/m/0007.mp3"_s);
        paths << u"/m/0100.mp3"_s;

        QStringList expected = listedPaths(c);
        bool ascending = c.sortAscending();
        const auto sort = [&] {
            std::sort(expected.begin(), expected.end(), [&](const QString& a, const QString& b) {
                return ascending ? a.compare(b) < 0 : a.compare(b) > 0;
            });
            ascending = !ascending;
        };
        for (const QString& path : std::as_const(paths)) {
            if (!expected.contains(path)) {
                expected << path;
                sort();
            }
        }
        if (openedWithTheApplication) {
            sort();
            c.applicationOpenFiles(paths);
        } else {
            c.addRow();
            app.dialogs->openPanels.front().didEnd(1, paths);
        }
        QVERIFY(waitUntilListed(c));
        QCOMPARE(listedPaths(c), expected);
        QCOMPARE(c.sortAscending(), ascending);
    }

    void openPanelAddsChosenFiles()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.addRow();
        QCOMPARE(app.dialogs->openPanels.size(), 1u);
        const OpenPanelSpec& panel = app.dialogs->openPanels.front().shown;
        QVERIFY(panel.allowsMultipleSelection);
        QVERIFY(!panel.canCreateDirectories);
        QCOMPARE(panel.fileTypes.first(), u"mp3"_s);
        QVERIFY(panel.fileTypes.contains(u"m4b"_s) && panel.fileTypes.contains(u"flac"_s));
        QCOMPARE(app.dialogs->lastWindow, c.window());

        app.dialogs->openPanels.front().didEnd(0, {u"/p/a.mp3"_s});
        QVERIFY(c.tableData().isEmpty());
        app.dialogs->openPanels.front().didEnd(1, {u"/p/a.mp3"_s, u"/p/b.mp3"_s});
        // The first addition sorts ascending, the second descending.
        QCOMPARE(listedPaths(c), (QStringList{u"/p/b.mp3"_s, u"/p/a.mp3"_s}));
        QVERIFY(c.sortAscending());
    }

    void openedFilesAreFilteredByName()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.applicationOpenFiles(
            {u"/f/TRACK.MP3"_s, u"/f/talk.mp3.bak"_s, u"/f/talk.txt"_s, u"/mp3s/cover.jpg"_s,
             u"/f/Book.M4B"_s, u"/f/rip.flac.part"_s});
        QStringList listed = listedPaths(c);
        listed.sort();
        QCOMPARE(listed,
                 (QStringList{u"/f/Book.M4B"_s, u"/f/TRACK.MP3"_s, u"/f/talk.mp3.bak"_s}));
        QCOMPARE(c.tableData().at(listedPaths(c).indexOf(u"/f/talk.mp3.bak"_s))->titleColumn,
                 u"talk.mp3"_s);
    }

    void editsLandInTheTitle()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.createItem(u"/e/one.mp3"_s);
        ItemTableModel* model = c.tableModel();
        QVERIFY(model->setData(model->index(0, model->column(u"titleColumn"_s).index),
                               u"Prologue"_s, Qt::EditRole));
        QCOMPARE(c.tableData().at(0)->titleColumn, u"Prologue"_s);
        c.tableViewSetObjectValue(c.table(), u"Epilogue"_s, model->column(u"bitrateColumn"_s), 0);
        QCOMPARE(c.tableData().at(0)->titleColumn, u"Epilogue"_s);
        QCOMPARE(c.tableData().at(0)->bitrateColumn, QString());
        QCOMPARE(c.tableData().at(0)->pathColumn, u"/e/one.mp3"_s);
    }

    void deletingAndClearing()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        c.deleteRow();
        c.clearAllItems();
        QVERIFY(c.sortAscending());

        c.applicationOpenFiles({u"/r/a.mp3"_s, u"/r/b.mp3"_s, u"/r/c.mp3"_s, u"/r/d.mp3"_s});
        // Four additions and the final sort leave a b c d.
        c.deleteRow();
        QCOMPARE(c.tableData().size(), 4);

        // With several rows selected only the one selected last goes.
        c.table()->selectRowIndexes({3}, false);
        c.table()->selectRowIndexes({1}, true);
        c.deleteRow();
        QCOMPARE(listedPaths(c), (QStringList{u"/r/a.mp3"_s, u"/r/c.mp3"_s, u"/r/d.mp3"_s}));
        QVERIFY(!c.atLeastOneSelected());
        QCOMPARE(c.tableModel()->rowCount(), 3);

        c.clearAllItems();
        QVERIFY(c.tableData().isEmpty());
        QCOMPARE(c.tableModel()->rowCount(), 0);
    }

    void titleAndIconCells()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        auto* title = dynamic_cast<TitleCellDelegate*>(
            c.table()->itemDelegateForColumn(c.tableModel()->column(u"titleColumn"_s).index));
        QVERIFY(title);
        QCOMPARE(title->font().family(), u"Lucida Grande"_s);
        QCOMPARE(title->font().pointSizeF(), 12.0);

        // A small icon is drawn centred at its own size, never enlarged.
        QStandardItemModel model(1, 1);
        QPixmap small(10, 10);
        small.fill(Qt::red);
        model.setData(model.index(0, 0), QIcon(small), Qt::DecorationRole);
        IconCellDelegate icon;
        QImage image(40, 36, QImage::Format_ARGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            QStyleOptionViewItem option;
            option.rect = image.rect();
            icon.paint(&painter, option, model.index(0, 0));
        }
        QRect red;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == QColor(Qt::red))
                    red |= QRect(x, y, 1, 1);
        QCOMPARE(red.size(), QSize(10, 10));
        QVERIFY(qAbs(red.center().x() - image.rect().center().x()) <= 1);
        QVERIFY(qAbs(red.center().y() - image.rect().center().y()) <= 1);
    }

    void oddNamesAreListedAndQueried()
    {
        TestEnvironment environment;
        QVERIFY(QDir::setCurrent(environment.root()));
        const QStringList names{u"it's.mp3"_s,
                                u"say \"hi\".mp3"_s,
                                u"$(touch SENTINEL).mp3"_s,
                                u"`touch SENTINEL`.mp3"_s,
                                u"back\\slash.mp3"_s,
                                u"Ünïcødé.mp3"_s,
                                u"-dash.mp3"_s};
        QStringList paths;
        for (const QString& name : names) {
            paths << environment.sources() + u'/' + name;
            QVERIFY(makeMp3(paths.constLast(), 1, 32000, 1, 48));
        }
        TestApp app;
        app.controller->applicationOpenFiles(paths);
        QVERIFY(waitUntilListed(*app.controller));
        QCOMPARE(app.controller->tableData().size(), names.size());
        for (const ItemRecordPtr& record : app.controller->tableData()) {
            QCOMPARE(record->bitrateColumn, u"48"_s);
            QCOMPARE(record->sampleFrequencyColumn, u"32000"_s);
            QVERIFY(names.contains(record->titleColumn + u".mp3"_s));
        }
        QVERIFY(!QFile::exists(environment.root() + u"/SENTINEL"_s));
    }
};

QTEST_MAIN(TestItemList)
#include "tst_itemlist.moc"
