#pragma once

#include "ItemRecord.h"
#include "ToolRunner.h"
#include "chapterWriterDelegate.h"

#include <QString>

// Adds one chapter per source file to the AAC file: writes the chapter list,
// then runs ChapterTool on a thread of its own.
class chapterWriter
{
public:
    ~chapterWriter();

    void setDelegate(chapterWriterDelegate* delegate) { mDelegate = delegate; }
    void setAudioFilePath(const QString& path) { mAudioFilePath = path; }
    void setViewFiles(const ItemList& files) { mViewFiles = files; }
    void setOutputFile(const QString& name) { mOutputFile = name; }
    void setOutputFolder(const QString& folder) { mOutputFolder = folder; }

    void startChapter();
    void terminateChapter();

    [[nodiscard]] QString command() const;

private:
    chapterWriterDelegate* mDelegate = nullptr;
    QString mAudioFilePath;
    ItemList mViewFiles;
    QString mOutputFile;
    QString mOutputFolder;
    ToolRunner mRunner;
};
