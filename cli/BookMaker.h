#pragma once

#include "BookRun.h"
#include "MakeOptions.h"
#include "ProgressPrinter.h"

#include <QObject>
#include <QStringList>
#include <memory>

// Makes books one after another, each on every core: one book from the
// command line's files, or a shelf of them. A failed book is told and the
// next one made.
class BookMaker final : public QObject
{
    Q_OBJECT
public:
    struct Book
    {
        QStringList inputs;
        // Empty: the book's name in outDir, or on the Desktop.
        QString output;
        // The book's name when its files' tags give none.
        QString name;
    };

    BookMaker(MakeOptions options, QList<Book> books, ProgressPrinter& printer,
              QObject* parent = nullptr);
    ~BookMaker() override;
    BookMaker(const BookMaker&) = delete;
    BookMaker& operator=(const BookMaker&) = delete;

    void start();
    // Ctrl+C: the run stops, and what it wrote goes.
    void stop();

Q_SIGNALS:
    // 0 when every book was made or skipped, 1 when one failed or the
    // making was stopped, 2 when the arguments were at fault.
    void finished(int exitCode);

private:
    void next();
    void fail(const QString& reason, bool usage = false);
    void end();

    MakeOptions mOptions;
    QList<Book> mBooks;
    ProgressPrinter& mPrinter;
    qsizetype mNext = 0;
    std::unique_ptr<BookRun> mRun;
    QString mOutput;
    QString mFolderName;
    QString mFolder;
    int mMade = 0;
    int mSkipped = 0;
    QStringList mFailures;
    bool mUsage = false;
    bool mStopped = false;
};
