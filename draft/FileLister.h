#pragma once

#include "BookFiles.h"
#include "DraftBook.h"

#include <QIcon>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <deque>
#include <functional>
#include <mutex>

class QThreadPool;

// Lists files in a draft as the window adds them: a few at once, the rest a
// turn of the event loop at a time, so that the window answers while
// thousands arrive, all of one addition one step of the history; and reads
// each file's details on other threads, handing them to the draft in
// batches, so that the work grows with the files and not their square.
class FileLister final : public QObject
{
    Q_OBJECT
public:
    explicit FileLister(DraftBook& book, QObject* parent = nullptr);
    ~FileLister() override;
    FileLister(const FileLister&) = delete;
    FileLister& operator=(const FileLister&) = delete;

    // Each new record's icon, as the window draws files.
    void setIcons(std::function<QIcon(const QString& path)> iconFor) { mIconFor = std::move(iconFor); }
    // Adds the files to the end of the list, as the edit of that name; with
    // sortWhenAdded the list is sorted once after the last of them, as many
    // sorts after each file would leave it.
    void add(const QStringList& paths, bool sortWhenAdded, const QString& name);
    // Lists the file alone, as a finished book to edit.
    void openBook(const QString& path);
    // Reads a listed file's details again, once the draft has forgotten them.
    void readAgain(const QString& path);
    [[nodiscard]] bool isAdding() const { return !mQueue.empty(); }

    // Each sort by path goes the other way from the one before.
    [[nodiscard]] bool sortAscending() const { return mAscending; }
    void setSortAscending(bool ascending) { mAscending = ascending; }
    void sortByPath();
    [[nodiscard]] static ItemList sortedByPath(ItemList files, bool ascending);

Q_SIGNALS:
    // A file asked for is listed already.
    void alreadyListed(const QString& path);
    // A turn of files has been listed.
    void listed();

private:
    struct Queued
    {
        QString path;
        bool sortAfter = false;
    };
    void addQueued(bool atOnce);
    void appendAndSort(ItemList records, int sorts);
    [[nodiscard]] ItemRecordPtr newRecord(const QString& path);
    void read(const QString& path);
    void flush();

    DraftBook& mBook;
    std::function<QIcon(const QString&)> mIconFor;
    std::deque<Queued> mQueue;
    QString mName;
    int mBatch = -1;
    bool mAddingScheduled = false;
    bool mAscending = true;
    // Where files' details are read: not Qt's global pool, from which the
    // window's painting takes its helpers.
    QThreadPool* mReaders;
    std::mutex mMutex;
    QList<std::pair<QString, BookFiles::Details>> mRead;
    bool mFlushScheduled = false;
};
