#pragma once

#include "BookTag.h"
#include "Job.h"
#include "WorkerThread.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

// Split into Chapters as a job: a file for each chapter of the book, into
// folder, copied as the book holds its audio or, with a bit rate, encoded
// in the other form (see BookSplitter). It tells each file as it is made;
// stopped, it leaves no file.
class SplitBook final : public Job
{
    Q_OBJECT
public:
    SplitBook(QString book, QString folder, BookTag tag, std::optional<int> encodedKbps,
              QObject* parent = nullptr);
    ~SplitBook() override;

    [[nodiscard]] const QString& folder() const { return mFolder; }
    // Once it has succeeded: the files made.
    [[nodiscard]] const QStringList& files() const { return mFiles; }

protected:
    void begin() override;
    void halt() override;

private:
    const QString mBook;
    const QString mFolder;
    const BookTag mTag;
    const std::optional<int> mKbps;
    QStringList mFiles;
    std::atomic<bool> mStopped = false;
    WorkerThread mThread;
};
