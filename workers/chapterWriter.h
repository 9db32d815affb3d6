#pragma once

#include "ItemRecord.h"
#include "ToolRunner.h"
#include "WorkerReports.h"

#include <QString>

// Adds one chapter per source file to the AAC file: writes the chapter list,
// then runs ChapterTool on a thread of its own.
class chapterWriter
{
public:
    ~chapterWriter();

    void setAudioFilePath(const QString& path) { mAudioFilePath = path; }
    void setViewFiles(const ItemList& files) { mViewFiles = files; }
    void setOutputFile(const QString& name) { mOutputFile = name; }
    void setOutputFolder(const QString& folder) { mOutputFolder = folder; }

    // Returns at once; the end is reported from the tool's thread.
    void startChapter(WorkerReports reports);
    void terminateChapter();

    [[nodiscard]] QString command() const;

private:
    QString mAudioFilePath;
    ItemList mViewFiles;
    QString mOutputFile;
    QString mOutputFolder;
    ToolRunner mRunner;
};
