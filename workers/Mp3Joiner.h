#pragma once

#include "ItemRecord.h"
#include "mp3JoinerDelegate.h"

#include <QString>

// Joins the source files into one MP3 by appending their bytes with cat, in
// order, on the caller's thread. Each file's playing time goes into its record.
// While cat runs, the caller's event loop keeps turning, so a stop can arrive.
class Mp3Joiner
{
public:
    void setDelegate(mp3JoinerDelegate* delegate) { mDelegate = delegate; }
    void setOutputFile(const QString& name) { mOutputFile = name; }
    void setOutputFolder(const QString& folder) { mOutputFolder = folder; }
    void setOutputAuthor(const QString& author) { mOutputAuthor = author; }
    void setOutputTitle(const QString& title) { mOutputTitle = title; }
    void setJoinFiles(const ItemList& files) { mJoinFiles = files; }
    [[nodiscard]] const ItemList& joinFiles() const { return mJoinFiles; }

    // Runs the whole join; the completion has been reported when it returns.
    void startJoin();
    // Stops the running cat, and the join with it.
    void terminateJoin();
    [[nodiscard]] bool isJoining() const { return mJoining; }

    // The command that appends one linked file to the joined file.
    [[nodiscard]] static QString catCommand(const QString& linkPath, const QString& joinedPath);

private:
    void runToEnd(const QString& command);

    mp3JoinerDelegate* mDelegate = nullptr;
    QString mOutputFile;
    QString mOutputFolder;
    QString mOutputAuthor;
    QString mOutputTitle;
    ItemList mJoinFiles;
    bool mJoining = false;
};
