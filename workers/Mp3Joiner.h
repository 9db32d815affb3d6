#pragma once

#include "ItemRecord.h"
#include "Mp3Helper.h"
#include "ProcessSlot.h"
#include "WorkerThread.h"
#include "WorkerReports.h"

#include <QString>
#include <atomic>
#include <vector>

// Joins the source files into one MP3 by appending their bytes with cat, in
// order, on a thread of its own, and measures each file's playing time on
// the way: recordLengths() puts them into the records once it has finished.
class Mp3Joiner
{
public:
    Mp3Joiner() = default;
    ~Mp3Joiner();
    Mp3Joiner(const Mp3Joiner&) = delete;
    Mp3Joiner& operator=(const Mp3Joiner&) = delete;

    void setOutputFile(const QString& name) { mOutputFile = name; }
    void setOutputFolder(const QString& folder) { mOutputFolder = folder; }
    void setJoinFiles(const ItemList& files) { mJoinFiles = files; }
    [[nodiscard]] const ItemList& joinFiles() const { return mJoinFiles; }

    // Returns at once; the reports tell of each file and of the end from
    // the join's thread.
    void startJoin(WorkerReports reports);
    // Stops the running cat, and the join with it.
    void terminateJoin();
    [[nodiscard]] bool isJoining() const { return mJoining; }
    // Each joined file's playing time into its record, on the records' own
    // thread, after the end has been reported.
    void recordLengths();

    // The command that appends one linked file to the joined file.
    [[nodiscard]] static QString catCommand(const QString& linkPath, const QString& joinedPath);

private:
    struct Length
    {
        Mp3Time time;
        std::optional<ItemRecord::Exact> exact;
    };
    void join(const QStringList& links, const WorkerReports& reports);
    void runToEnd(const QString& command);

    QString mOutputFile;
    QString mOutputFolder;
    ItemList mJoinFiles;
    std::vector<Length> mLengths;
    std::atomic<bool> mJoining = false;
    ProcessSlot mCat;
    WorkerThread mThread;
};
