#pragma once

#include <QList>
#include <QString>
#include <sys/types.h>

// A lock on a folder that a run writes in. The application takes it, and
// every tool that it starts holds it too, through an inherited descriptor: a
// tool left running by an instance that is gone still holds it, and so
// keeps a later run from emptying the folder under it.
class FolderLock
{
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    enum class Result
    {
        Ours,          // taken now or before, and shared with the tools started from now on
        HeldElsewhere, // someone else holds it
        Unusable,      // the folder cannot be opened: errno says why
    };
    Result tryLock(const QString& folder);

    struct Holders
    {
        // Tools whose application is gone.
        QList<pid_t> leftovers;
        // Another application, or a tool of one that still runs.
        bool liveApplication = false;
    };
    // Who else holds the folder's lock. Only our own user's processes can be seen.
    [[nodiscard]] static Holders holders(const QString& folder);

private:
    int mFd = -1;
};
