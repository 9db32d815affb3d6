#include "ItemTableModel.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QString spokenLength(const AppController& c, const QString& path)
{
    int row = 0;
    while (row < c.tableData().size() && c.tableData().at(row)->pathColumn != path)
        ++row;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(c.table());
    const int column = c.tableModel()->column(u"lengthColumn"_s).index;
    return table->tableInterface()->cellAt(row, column)->text(QAccessible::Name);
}

QString spokenSummary(const AppController& c)
{
    return spokenName(control<QLabel>(c, u"listSummary"_s));
}

} // namespace

class TestLengths : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lengthsAreShownAsAListenerReadsThem_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("under a minute") << 7.4 << u"0:07"_s;
        QTest::newRow("rounds up into the next minute") << 59.6 << u"1:00"_s;
        QTest::newRow("just under an hour") << 3599.4 << u"59:59"_s;
        QTest::newRow("an hour") << 3600.0 << u"1:00:00"_s;
        QTest::newRow("hours pad their minutes") << 36062.0 << u"10:01:02"_s;
    }

    void lengthsAreShownAsAListenerReadsThem()
    {
        QFETCH(double, seconds);
        QFETCH(QString, shown);
        QCOMPARE(ItemRecord::formatLength(seconds), shown);
    }

    // Lengths fill in after the files are listed; one that cannot be read
    // shows a dash and counts as nothing.
    void theListShowsEachLengthAndTheTotal()
    {
        TestEnvironment environment;
        TestApp app;
        AppController& c = *app.controller;
        QCOMPARE(spokenSummary(c), u"No files"_s);
        const QString a = environment.sources() + u"/01 a.mp3"_s;
        const QString b = environment.sources() + u"/02 b.mp3"_s;
        const QString broken = environment.sources() + u"/03 broken.mp3"_s;
        QVERIFY(makeMp3(a, 3, 44100, 2, 128));
        QVERIFY(makeMp3(b, 65, 22050, 1, 32));
        QVERIFY(writeFile(broken, QByteArray(5000, 'x')));
        c.applicationOpenFiles({a, b, broken});
        QTRY_COMPARE(spokenSummary(c), u"3 files \u00b7 1:08 \u00b7 about 540 kB as AAC"_s);
        QCOMPARE(spokenLength(c, a), u"0:03"_s);
        QCOMPARE(spokenLength(c, b), u"1:05"_s);
        QCOMPARE(spokenLength(c, broken), u"\u2014"_s);

        // A lower bit rate on the output sheet, chosen from the keyboard, makes a smaller book.
        c.joinAll();
        QTest::keyClick(control<QComboBox>(c, u"outputRate"_s), Qt::Key_Up);
        QCOMPARE(spokenSummary(c), u"3 files \u00b7 1:08 \u00b7 about 410 kB as AAC"_s);

        // F2 edits a title, but not a length.
        c.closeJoinStart();
        AudiobookTableView* table = c.table();
        auto editorOpensOn = [&](const QString& columnKey) -> bool {
            table->setCurrentIndex(
                c.tableModel()->index(1, c.tableModel()->column(columnKey).index));
            QTest::keyClick(table, Qt::Key_F2);
            const bool opened = table->viewport()->findChild<QLineEdit*>() != nullptr;
            if (opened)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QTest::qWait(50);
            return opened;
        };
        QVERIFY(editorOpensOn(u"titleColumn"_s));
        QVERIFY(!editorOpensOn(u"lengthColumn"_s));
        QCOMPARE(spokenLength(c, b), u"1:05"_s);

        // Without the 65 s file, the book is 3 s.
        table->selectRow(static_cast<int>(c.tableData().indexOf(
            *std::find_if(c.tableData().begin(), c.tableData().end(),
                          [&](const ItemRecordPtr& r) { return r->pathColumn == b; }))));
        QTest::mouseClick(control<QPushButton>(c, u"removeButton"_s), Qt::LeftButton);
        QCOMPARE(spokenSummary(c), u"2 files \u00b7 0:03 \u00b7 about 18 kB as AAC"_s);
    }
};

QTEST_MAIN(TestLengths)
#include "tst_lengths.moc"
