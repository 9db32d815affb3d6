#include "Resources.h"
#include "TerminationSignals.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <iostream>

using namespace Qt::Literals::StringLiterals;

namespace {

void startBook(AppController& c, const QStringList& files)
{
    c.applicationOpenFiles(files);
    QTest::mouseClick(control<QPushButton>(c, u"makeButton"_s), Qt::LeftButton);
    control<QLineEdit>(c, u"outputName"_s)->setText(u"Book"_s);
    chooseEncoding(c, u"Bookmark"_s);
    QTest::mouseClick(control<QPushButton>(c, u"outputStart"_s), Qt::LeftButton);
}

// The application as it runs for a user, with its own handling of signals
// to end; it says "converting" once ffmpeg runs, and on "quit" it quits from
// the keyboard as a user would.
int runAsApplication(int argc, char* argv[])
{
    QApplication application(argc, argv);
    Resources::setDirectory(QString::fromLocal8Bit(argv[2]));
    const bool quitByKey = qstrcmp(argv[3], "quit") == 0;
    TestApp app;
    AppController& c = *app.controller;
    TerminationSignals endRequests;
    QObject::connect(&endRequests, &TerminationSignals::arrived, &c,
                     &AppController::quitApplication);
    QStringList files;
    for (int i = 4; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    startBook(c, files);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &c, [&] {
        if (c.state() != RunState::Encoding)
            return;
        watch.stop();
        std::cout << "converting" << std::endl;
        if (quitByKey)
            QTimer::singleShot(1000, &c, [&c] {
                QTest::keyClick(control<QDialog>(c, u"joinProgressWindow"_s), Qt::Key_Q,
                                Qt::ControlModifier);
            });
    });
    watch.start(20);
    return QApplication::exec();
}

struct Process
{
    pid_t pid = 0;
    pid_t parent = 0;
    QByteArray name;
    char state = '?';
};

std::optional<Process> processInfo(pid_t pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> rest = line.mid(close + 2).split(' ');
    if (open < 0 || close < 0 || rest.size() < 2)
        return std::nullopt;
    return Process{pid, rest.at(1).toInt(), line.mid(open + 1, close - open - 1), rest.at(0).at(0)};
}

QList<Process> descendantsOf(pid_t root)
{
    QList<Process> all;
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (const auto info = processInfo(entry.toInt()); entry.front().isDigit() && info)
            all << *info;
    }
    QList<Process> found;
    QList<pid_t> parents{root};
    while (!parents.isEmpty()) {
        const pid_t parent = parents.takeFirst();
        for (const Process& p : all) {
            if (p.parent == parent) {
                found << p;
                parents << p.pid;
            }
        }
    }
    return found;
}

bool isAlive(pid_t pid)
{
    const auto info = processInfo(pid);
    return info && info->state != 'Z' && info->state != 'X';
}

struct Ending
{
    explicit Ending(QString longFile) : longSource(std::move(longFile))
    {
        shortSource = environment.sources() + u"/short.mp3"_s;
        QDir().mkpath(environment.sources());
        makeMp3(shortSource, 3, 22050, 1, 32);
    }

    // Starts the application making a book of the long file, and waits until ffmpeg runs.
    bool start(const QString& resources, const QString& mode)
    {
        application.start(QCoreApplication::applicationFilePath(),
                          {u"--application"_s, resources, mode, longSource});
        return application.waitForStarted() && application.waitForReadyRead(120000) &&
               application.readAll().contains("converting");
    }

    // The next run of another instance makes a good book in the same folders.
    void makeAGoodBook(QStringList* progressTexts = nullptr)
    {
        Resources::setDirectory(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR));
        TestApp app;
        AppController& c = *app.controller;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &c, [&] {
            if (!progressTexts)
                return;
            QAccessibleInterface* label = QAccessible::queryAccessibleInterface(
                control<QLabel>(c, u"joinProgressDescription"_s));
            if (const QString text = label->text(QAccessible::Name); !progressTexts->contains(text))
                *progressTexts << text;
        });
        watch.start(20);
        startBook(c, {shortSource});
        QVERIFY(waitUntilIdle(c));
        QVERIFY(app.dialogs->allAlerts.isEmpty());
        const QJsonObject probed = probe(environment.desktop() + u"/Book.m4b"_s);
        QCOMPARE(probed.value(u"chapters"_s).toArray().size(), 1);
        QVERIFY(std::abs(probed[u"format"_s][u"duration"_s].toString().toDouble() - 3.0) < 0.2);
    }

    QString tempFolder() const { return environment.tmp() + u"/Fablewick"_s; }

    TestEnvironment environment;
    QProcess application;
    // Half an hour: a conversion that is still going when the test ends it.
    QString longSource;
    QString shortSource;
};

} // namespace

class TestEnding : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(makeMp3(mLong, 1800, 22050, 1, 32)); }

    void toolsEndWithTheApplication_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("cleansUp");
        QTest::newRow("Quit") << 0 << true;
        QTest::newRow("SIGTERM") << SIGTERM << true;
        QTest::newRow("SIGHUP") << SIGHUP << true;
        QTest::newRow("SIGKILL") << SIGKILL << false;
    }

    void toolsEndWithTheApplication()
    {
        QFETCH(int, signal);
        QFETCH(bool, cleansUp);
        Ending ending(mLong);
        QVERIFY(ending.start(QStringLiteral(FABLEWICK_TEST_RESOURCE_DIR),
                             signal == 0 ? u"quit"_s : u"wait"_s));
        const pid_t app = static_cast<pid_t>(ending.application.processId());
        // ffmpeg itself is the application's child, not a shell's; the worker
        // thread starts it just after the run says it converts.
        QList<Process> tools;
        QTRY_VERIFY_WITH_TIMEOUT(
            (tools = descendantsOf(app),
             std::any_of(tools.begin(), tools.end(),
                         [app](const Process& p) { return p.name == "ffmpeg" && p.parent == app; })),
            10000);
        if (signal != 0)
            ::kill(app, signal);
        QVERIFY(ending.application.waitForFinished(20000));
        QCOMPARE(ending.application.exitStatus() == QProcess::NormalExit, cleansUp);
        QTest::qWait(1000);
        for (const Process& tool : tools)
            QVERIFY2(!isAlive(tool.pid), tool.name.constData());
        if (cleansUp)
            QCOMPARE(QDir(ending.tempFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList());
        ending.makeAGoodBook();
    }

    // A tool that outlives its application (here, what a stand-in for ffmpeg
    // started) still holds the temporary folder: the next run ends it first.
    void aLeftoverToolIsEndedBeforeTheNextRun()
    {
        Ending ending(mLong);
        const QString resources =
            toolsWithStandIn(ending.environment.root(), u"ffmpeg"_s, u"sleep 120"_s);
        QVERIFY(ending.start(resources, u"wait"_s));
        const pid_t app = static_cast<pid_t>(ending.application.processId());
        auto sleepStarted = [app] {
            const QList<Process> tools = descendantsOf(app);
            return std::any_of(tools.begin(), tools.end(),
                               [](const Process& p) { return p.name == "sleep"; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(sleepStarted(), 20000);
        const QList<Process> tools = descendantsOf(app);
        ::kill(app, SIGKILL);
        QVERIFY(ending.application.waitForFinished(20000));
        QTest::qWait(500);
        QList<pid_t> leftovers;
        for (const Process& tool : tools) {
            if (isAlive(tool.pid))
                leftovers << tool.pid;
        }
        // The sleeps of the encoders, one for each part of the book; the
        // stand-ins themselves are gone.
        QVERIFY(!leftovers.isEmpty());

        QStringList progressTexts;
        ending.makeAGoodBook(&progressTexts);
        for (const pid_t leftover : std::as_const(leftovers))
            QVERIFY(!isAlive(leftover));
        const QString ended =
            leftovers.size() == 1 ? u"a tool"_s : u"%1 tools"_s.arg(leftovers.size());
        QVERIFY2(progressTexts.contains(u"Ending %1 that an earlier Fablewick left running in "_s.arg(
                                            ended) +
                                        ending.tempFolder() + u"..."_s),
                 qPrintable(progressTexts.join(u" | "_s)));
    }

private:
    QTemporaryDir mShared;
    QString mLong = mShared.path() + u"/long.mp3"_s;
};

int main(int argc, char* argv[])
{
    if (argc >= 4 && qstrcmp(argv[1], "--application") == 0)
        return runAsApplication(argc, argv);
    QApplication application(argc, argv);
    TestEnding test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ending.moc"
