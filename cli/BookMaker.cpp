#include "BookMaker.h"

#include "BookPlan.h"
#include "FileMover.h"
#include "Layout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

BookMaker::BookMaker(MakeOptions options, QList<Book> books, ProgressPrinter& printer,
                     QObject* parent)
    : QObject(parent), mOptions(std::move(options)), mBooks(std::move(books)), mPrinter(printer),
      // A folder of this process's own: scripts may run several at once,
      // and none waits for the window's.
      mFolderName(u"Fablewick-make-%1"_s.arg(QCoreApplication::applicationPid()))
{
}

BookMaker::~BookMaker()
{
    mRun.reset();
    if (!mFolder.isEmpty())
        QDir(mFolder).removeRecursively();
}

void BookMaker::start()
{
    QTimer::singleShot(0, this, [this] { next(); });
}

void BookMaker::stop()
{
    mStopped = true;
    if (mRun && mRun->isRunning()) {
        mRun->stop(BookRun::Leftovers::Removed);
        mPrinter.failed(u"Stopped: the book was not made, and its partial files were removed."_s);
    }
    end();
}

void BookMaker::fail(const QString& reason, bool usage)
{
    mUsage = mUsage || usage;
    mFailures << (mBooks.size() > 1 ? u"%1: %2"_s.arg(mBooks.at(mNext - 1).name, reason) : reason);
    mPrinter.failed(reason);
    QTimer::singleShot(0, this, [this] { next(); });
}

void BookMaker::next()
{
    if (mStopped)
        return;
    if (mNext == mBooks.size()) {
        end();
        return;
    }
    const Book& book = mBooks.at(mNext++);
    // A shelf names each book as it begins it.
    if (!mOptions.dryRun && mBooks.size() > 1)
        mPrinter.begin(book.name);
    BookPlan::Problem problem;
    std::optional<BookPlan> plan =
        BookPlan::make(mOptions, book.inputs, book.output, book.name, problem);
    if (!plan) {
        fail(problem.text, problem.usage);
        return;
    }
    for (const QString& note : std::as_const(plan->notes))
        mPrinter.note(note);
    if (!mOptions.outDir.isEmpty()) {
        QDir folder(mOptions.outDir);
        if (!mOptions.layout.isEmpty())
            folder.setPath(
                folder.filePath(Layout::foldersFor(mOptions.layout, plan->request.tags)));
        plan->output = folder.absoluteFilePath(QFileInfo(plan->output).fileName());
    }
    if (mOptions.dryRun) {
        std::fputs(plan->text().toUtf8().constData(), stdout);
        QTimer::singleShot(0, this, [this] { next(); });
        return;
    }
    if (FileMover::itemExists(plan->output) && !mOptions.replace) {
        if (mOptions.skipExisting) {
            ++mSkipped;
            mPrinter.skipped(u"%1 is there already"_s.arg(plan->output));
            QTimer::singleShot(0, this, [this] { next(); });
            return;
        }
        fail(u"%1 already exists. Give --replace to replace it, or choose another --output."_s.arg(
            plan->output));
        return;
    }
    mOutput = plan->output;
    QDir().mkpath(QFileInfo(mOutput).absolutePath());
    mRun = std::make_unique<BookRun>(plan->request, mFolderName);
    connect(mRun.get(), &Job::progressed, this,
            [this](const Job::Progress& progress) { mPrinter.show(progress); });
    connect(mRun.get(), &Job::failed, this, [this](const QString& cause) { fail(cause); });
    connect(mRun.get(), &Job::succeeded, this, [this] {
        const FileMover::Outcome outcome = mRun->deliver(mOutput, mOptions.replace);
        if (!outcome) {
            QString reason = u"Unable to create file %1: %2"_s.arg(mOutput, outcome.reason);
            if (!outcome.keptAt.isEmpty())
                reason += u" The audiobook is kept at %1."_s.arg(outcome.keptAt);
            fail(reason);
            return;
        }
        ++mMade;
        mPrinter.made(mOutput);
        QTimer::singleShot(0, this, [this] { next(); });
    });
    mRun->start();
    // Made as the run starts, and removed when the making ends.
    if (mRun->folder())
        mFolder = *mRun->folder();
}

void BookMaker::end()
{
    if (mBooks.size() > 1 && !mOptions.dryRun)
        mPrinter.summary(mMade, static_cast<int>(mFailures.size()), mSkipped, mFailures);
    const int code = mUsage && mBooks.size() == 1 ? 2 : (mFailures.isEmpty() && !mStopped ? 0 : 1);
    QTimer::singleShot(0, this, [this, code] { Q_EMIT finished(code); });
}
