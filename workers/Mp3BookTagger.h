#pragma once

#include "BookTag.h"
#include "WorkerReports.h"
#include "WorkerThread.h"

#include <QString>
#include <atomic>
#include <exception>
#include <functional>

// Gives an MP3 book its own tag: a new file holding the book's ID3v2.4 tag,
// chapters included, and then the joined file's audio frames byte for byte,
// without the files' own tags before, between and after them, or the Info
// frames of all but the first; that one is told again for the whole book,
// so that players show its length and seek in it.
// Works on a thread of its own and reports there.
class Mp3BookTagger
{
public:

    ~Mp3BookTagger();

    void setInputPath(const QString& path) { mInputPath = path; }
    void setOutputPath(const QString& path) { mOutputPath = path; }
    void setTag(const BookTag& tag) { mTag = tag; }

    // Returns at once; the end is reported on the worker's thread.
    void startTagging(WorkerReports reports);
    void terminateTagging() { mStopped = true; }

private:
    void write();

    QString mInputPath;
    QString mOutputPath;
    BookTag mTag;
    std::atomic<bool> mStopped = false;
    WorkerThread mThread;
};
