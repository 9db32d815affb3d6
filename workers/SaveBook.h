#pragma once

#include "BookTag.h"
#include "Job.h"
#include "WorkerThread.h"

#include <QString>

// Save Book as a job: the book at source written to target, with the tag's
// written fields and chapters, on a thread of its own (see BookSaver).
class SaveBook final : public Job
{
    Q_OBJECT
public:
    SaveBook(QString source, QString target, BookTag tag, QObject* parent = nullptr);
    ~SaveBook() override;

    [[nodiscard]] const QString& target() const { return mTarget; }
    [[nodiscard]] const BookTag& tag() const { return mTag; }
    // Once it has succeeded: what the save could not keep, or nothing.
    [[nodiscard]] const QString& note() const { return mNote; }

protected:
    void begin() override;
    // A save is let finish, so that the book is whole: it takes the time of a copy.
    void halt() override { mThread.join(); }

private:
    const QString mSource;
    const QString mTarget;
    const BookTag mTag;
    QString mNote;
    WorkerThread mThread;
};
