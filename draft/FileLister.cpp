#include "FileLister.h"

#include <QElapsedTimer>
#include <QThreadPool>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {
// Details are handed over at most this often, however fast they are read.
constexpr int kBatchMs = 40;
} // namespace

FileLister::FileLister(DraftBook& book, QObject* parent)
    : QObject(parent), mBook(book), mReaders(new QThreadPool(this))
{
}

FileLister::~FileLister()
{
    // Details not yet read are not waited for.
    mReaders->clear();
    mReaders->waitForDone();
}

void FileLister::add(const QStringList& paths, bool sortWhenAdded, const QString& name)
{
    mName = name;
    mBatch = mBook.newBatch();
    for (qsizetype i = 0; i < paths.size(); ++i)
        mQueue.push_back({paths.at(i), sortWhenAdded && i == paths.size() - 1});
    if (sortWhenAdded && paths.isEmpty())
        sortByPath();
    addQueued(true);
}

void FileLister::openBook(const QString& path)
{
    mQueue.clear();
    mBook.openBook(newRecord(path));
    Q_EMIT listed();
}

void FileLister::readAgain(const QString& path)
{
    read(path);
}

ItemList FileLister::sortedByPath(ItemList files, bool ascending)
{
    std::stable_sort(files.begin(), files.end(),
                     [ascending](const ItemRecordPtr& a, const ItemRecordPtr& b) {
                         const int order = a->pathColumn.compare(b->pathColumn);
                         return ascending ? order < 0 : order > 0;
                     });
    return files;
}

void FileLister::sortByPath()
{
    mBook.edit(u"Sort by Path"_s, [this](DraftBook::Edit& edit) {
        edit.rearrange(sortedByPath(edit.book().files(), mAscending));
    });
    mAscending = !mAscending;
}

// A few files go in at once, so that a handful is listed when the call
// returns; later turns stop when their time is up, and each sorts once,
// leaving the list as a sort after each file would.
void FileLister::addQueued(bool atOnce)
{
    constexpr int kFilesAtOnce = 8;
    constexpr qint64 kTurnMs = 20;
    QElapsedTimer turn;
    turn.start();
    ItemList added;
    QSet<QString> adding;
    int sorts = 0;
    const auto listAdded = [&] {
        appendAndSort(std::exchange(added, {}), std::exchange(sorts, 0));
        adding.clear();
    };
    for (int count = 0;
         !mQueue.empty() && ((atOnce && count < kFilesAtOnce) || turn.elapsed() < kTurnMs);
         ++count) {
        const Queued next = mQueue.front();
        mQueue.pop_front();
        if (mBook.lists(next.path) || adding.contains(next.path)) {
            listAdded();
            Q_EMIT alreadyListed(next.path);
        } else {
            added << newRecord(next.path);
            adding.insert(next.path);
            ++sorts;
        }
        if (next.sortAfter)
            ++sorts;
    }
    listAdded();
    Q_EMIT listed();
    if (!mQueue.empty() && !mAddingScheduled) {
        mAddingScheduled = true;
        QTimer::singleShot(0, this, [this] {
            mAddingScheduled = false;
            addQueued(false);
        });
    }
}

void FileLister::appendAndSort(ItemList records, int sorts)
{
    if (records.isEmpty() && sorts <= 0)
        return;
    // Each sort goes the other way from the one before.
    const bool odd = sorts % 2 == 1;
    const bool ascending = odd ? mAscending : !mAscending;
    mBook.edit(
        mName,
        [&](DraftBook::Edit& edit) {
            edit.insert(static_cast<int>(edit.book().files().size()), std::move(records));
            if (sorts > 0)
                edit.rearrange(sortedByPath(edit.book().files(), ascending));
        },
        mBatch);
    if (sorts > 0 && odd)
        mAscending = !mAscending;
}

ItemRecordPtr FileLister::newRecord(const QString& path)
{
    auto record = std::make_shared<ItemRecord>();
    record->pathColumn = path;
    record->titleColumn = ItemRecord::titleForPath(path);
    if (mIconFor)
        record->iconColumn = mIconFor(path);
    read(path);
    return record;
}

// mp3info runs for each file, counting the frames of a long file without
// an Info frame reads all of it, and a tag may hold a large cover: each is
// read on a thread of the pool, and what is read is handed over together.
void FileLister::read(const QString& path)
{
    mReaders->start([this, path] {
        BookFiles::Details details = BookFiles::readDetails(path);
        std::lock_guard lock(mMutex);
        mRead.append({path, std::move(details)});
        if (std::exchange(mFlushScheduled, true))
            return;
        QMetaObject::invokeMethod(
            this, [this] { QTimer::singleShot(kBatchMs, this, [this] { flush(); }); },
            Qt::QueuedConnection);
    });
}

void FileLister::flush()
{
    QList<std::pair<QString, BookFiles::Details>> read;
    {
        std::lock_guard lock(mMutex);
        read.swap(mRead);
        mFlushScheduled = false;
    }
    mBook.applyDetails(read);
}
