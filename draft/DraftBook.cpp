#include "DraftBook.h"

#include "ChapterList.h"
#include "DraftEdit.h"
#include "FileHelper.h"
#include "SourceTags.h"

#include <QFileInfo>
#include <QImage>
#include <QUndoStack>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// The chapters and proposals of files in the order they play, placed by the
// lengths the list shows.
QList<ChapterRow> rowsFor(const ItemList& records)
{
    QList<double> starts;
    QList<double> lengths;
    double total = 0;
    for (const ItemRecordPtr& record : records) {
        starts << total;
        lengths << record->lengthColumn.value_or(0);
        total += lengths.constLast();
    }
    QList<ChapterRow> rows;
    for (const ChapterList::Placed& chapter : ChapterList::placed(records, starts, starts, lengths))
        rows.append({.record = records.at(chapter.record),
                     .recordRow = chapter.record,
                     .offset = chapter.offset,
                     .start = chapter.start,
                     .title = chapter.title});
    for (qsizetype i = 0; i < rows.size(); ++i)
        rows[i].length = (i + 1 < rows.size() ? rows.at(i + 1).start : total) - rows.at(i).start;
    const qsizetype chapters = rows.size();
    for (qsizetype i = 0; i < records.size(); ++i) {
        for (const ChapterMark& proposal : std::as_const(records.at(i)->proposals))
            rows.append({.record = records.at(i),
                         .recordRow = i,
                         .proposed = true,
                         .offset = proposal.start,
                         .start = starts.at(i) + proposal.start,
                         .title = u"Proposed start"_s});
    }
    // The chapters are in order already; only proposals need placing among them.
    if (rows.size() > chapters)
        std::stable_sort(rows.begin(), rows.end(),
                         [](const ChapterRow& a, const ChapterRow& b) { return a.start < b.start; });
    return rows;
}

} // namespace

DraftBook::DraftBook(QObject* parent) : QObject(parent), mHistory(new QUndoStack(this))
{
    // Each step keeps only what it changed; a sort of a thousand files keeps
    // two orders of them, 16 kB.
    mHistory->setUndoLimit(100);
}

DraftBook::~DraftBook() = default;

int DraftBook::rowOf(const ItemRecordPtr& record) const
{
    return static_cast<int>(mFiles.indexOf(record));
}

QList<double> DraftBook::lengths() const
{
    QList<double> lengths;
    lengths.reserve(mFiles.size());
    for (const ItemRecordPtr& record : mFiles)
        lengths << record->lengthColumn.value_or(0);
    return lengths;
}

double DraftBook::length() const
{
    double total = 0;
    for (const ItemRecordPtr& record : mFiles)
        total += record->lengthColumn.value_or(0);
    return total;
}

bool DraftBook::allRead() const
{
    return std::all_of(mFiles.begin(), mFiles.end(),
                       [](const ItemRecordPtr& record) { return record->lengthRead; });
}

const QList<ChapterRow>& DraftBook::chapters() const
{
    if (mChaptersStale) {
        mChapters = rowsFor(mFiles);
        mChaptersStale = false;
    }
    return mChapters;
}

int DraftBook::proposalCount() const
{
    const QList<ChapterRow>& rows = chapters();
    return static_cast<int>(
        std::count_if(rows.begin(), rows.end(), [](const ChapterRow& row) { return row.proposed; }));
}

QList<BookTag::Chapter> DraftBook::bookChapters() const
{
    QList<BookTag::Chapter> chapters;
    for (const ChapterRow& row : this->chapters()) {
        if (row.proposed)
            continue;
        const auto ms = static_cast<quint32>(std::llround(row.start * 1000));
        if (!chapters.isEmpty())
            chapters.last().endMs = ms;
        chapters.append({.title = row.title, .startMs = ms, .endMs = ms});
    }
    if (!chapters.isEmpty())
        chapters.last().endMs = static_cast<quint32>(std::llround(length() * 1000));
    return chapters;
}

bool DraftBook::tagsAreEmpty() const
{
    const BookTag& t = mTags;
    return t.title.isEmpty() && t.artist.isEmpty() && t.album.isEmpty() &&
           t.albumArtist.isEmpty() && t.comment.isEmpty() && t.narrator.isEmpty() &&
           t.year.isEmpty() && t.series.isEmpty() && t.seriesNumber.isEmpty() &&
           t.description.isEmpty() && t.cover.isEmpty();
}

// Edits ------------------------------------------------------------------

void DraftBook::Edit::add(DraftStep::Step step)
{
    mBook.apply(step, true);
    mSteps.push_back(std::move(step));
}

void DraftBook::Edit::insert(int row, ItemList records)
{
    if (!records.isEmpty())
        add(DraftStep::Insert{.row = row, .records = std::move(records)});
}

void DraftBook::Edit::remove(int row, int count)
{
    if (count > 0)
        add(DraftStep::Remove{.row = row, .records = mBook.mFiles.mid(row, count)});
}

void DraftBook::Edit::rearrange(ItemList order, bool follow)
{
    if (order != mBook.mFiles)
        add(DraftStep::Rearrange{.before = mBook.mFiles, .after = std::move(order), .follow = follow});
}

void DraftBook::Edit::change(const ItemRecordPtr& record, const ItemRecord::Edits& edits)
{
    const ItemRecord::Edits before = record->edits();
    if (before == edits)
        return;
    // Changes of many files in one edit are one step.
    if (!mSteps.empty() && std::holds_alternative<DraftStep::Change>(mSteps.back())) {
        record->setEdits(edits);
        std::get<DraftStep::Change>(mSteps.back()).records.append({record, before, edits});
        mBook.changeRecords({{record, before, edits}}, true);
        return;
    }
    add(DraftStep::Change{.records = {{record, before, edits}}});
}

void DraftBook::Edit::setTags(const BookTag& tags)
{
    BookTag next = tags;
    next.written = mBook.mTags.written;
    next.chapters = mBook.mTags.chapters;
    const BookTag::Fields differ = next.differencesFrom(mBook.mTags);
    if (differ & ~BookTag::Fields(BookTag::Field::Chapters))
        add(DraftStep::Tags{.before = mBook.mTags, .after = next});
}

void DraftBook::edit(const QString& name, const std::function<void(Edit&)>& changes, int batch)
{
    Edit edit(*this);
    changes(edit);
    if (edit.mSteps.empty())
        return;
    const bool chapters =
        std::any_of(edit.mSteps.begin(), edit.mSteps.end(), [](const DraftStep::Step& step) {
            return !std::holds_alternative<DraftStep::Tags>(step);
        });
    settled(chapters);
    mHistory->push(new DraftEdit(*this, name, std::move(edit.mSteps), batch));
}

void DraftBook::apply(const DraftStep::Step& step, bool forward)
{
    if (const auto* insert = std::get_if<DraftStep::Insert>(&step)) {
        if (forward)
            insertRecords(insert->row, insert->records);
        else
            removeRecords(insert->row, insert->records.size());
    } else if (const auto* remove = std::get_if<DraftStep::Remove>(&step)) {
        if (forward)
            removeRecords(remove->row, remove->records.size());
        else
            insertRecords(remove->row, remove->records);
    } else if (const auto* order = std::get_if<DraftStep::Rearrange>(&step)) {
        if (forward)
            rearrangeRecords(order->before, order->after, order->follow);
        else
            rearrangeRecords(order->after, order->before, order->follow);
    } else if (const auto* change = std::get_if<DraftStep::Change>(&step)) {
        changeRecords(change->records, forward);
    } else if (const auto* tags = std::get_if<DraftStep::Tags>(&step)) {
        replaceTags(forward ? tags->after : tags->before);
    }
}

void DraftBook::insertRecords(int row, const ItemList& records)
{
    const auto count = static_cast<int>(records.size());
    Q_EMIT filesAboutToBeInserted(row, row + count - 1);
    mFiles.insert(row, count, nullptr);
    for (int i = 0; i < count; ++i) {
        mFiles[row + i] = records.at(i);
        mPaths.insert(records.at(i)->pathColumn);
    }
    mChaptersStale = true;
    Q_EMIT filesInserted();
}

void DraftBook::removeRecords(int row, qsizetype count)
{
    Q_EMIT filesAboutToBeRemoved(row, row + static_cast<int>(count) - 1);
    for (qsizetype i = row; i < row + count; ++i)
        mPaths.remove(mFiles.at(i)->pathColumn);
    mFiles.remove(row, count);
    mChaptersStale = true;
    Q_EMIT filesRemoved();
}

void DraftBook::rearrangeRecords(const ItemList& from, const ItemList& to, bool follow)
{
    Q_EMIT filesAboutToBeRearranged();
    QList<int> newRowOf;
    if (follow) {
        QHash<const ItemRecord*, int> rows;
        rows.reserve(to.size());
        for (qsizetype i = 0; i < to.size(); ++i)
            rows.insert(to.at(i).get(), static_cast<int>(i));
        newRowOf.reserve(from.size());
        for (qsizetype i = 0; i < from.size(); ++i)
            newRowOf << rows.value(from.at(i).get(), static_cast<int>(i));
    }
    mFiles = to;
    mPaths.clear();
    for (const ItemRecordPtr& record : std::as_const(mFiles))
        mPaths.insert(record->pathColumn);
    mChaptersStale = true;
    Q_EMIT filesRearranged(newRowOf);
}

void DraftBook::changeRecords(const QList<DraftStep::Change::Of>& records, bool forward)
{
    int first = -1;
    int last = -1;
    // Rows are looked up once for a change of many files.
    QHash<const ItemRecord*, int> rows;
    if (records.size() > 1) {
        for (qsizetype i = 0; i < mFiles.size(); ++i)
            rows.insert(mFiles.at(i).get(), static_cast<int>(i));
    }
    for (const DraftStep::Change::Of& each : records) {
        each.record->setEdits(forward ? each.after : each.before);
        const int row = records.size() > 1 ? rows.value(each.record.get(), -1) : rowOf(each.record);
        if (row < 0)
            continue;
        first = first < 0 ? row : std::min(first, row);
        last = std::max(last, row);
    }
    mChaptersStale = true;
    if (first >= 0)
        Q_EMIT filesChanged(first, last);
}

void DraftBook::replaceTags(const BookTag& tags)
{
    mTags = tags;
    Q_EMIT tagsChanged();
}

void DraftBook::settled(bool chapters)
{
    if (chapters)
        Q_EMIT chaptersChanged();
    Q_EMIT edited();
}

void DraftBook::recordsChanged(int first, int last)
{
    if (mFiles.isEmpty() || first > last)
        return;
    mChaptersStale = true;
    Q_EMIT filesChanged(std::max(first, 0), std::min<int>(last, static_cast<int>(mFiles.size()) - 1));
    Q_EMIT chaptersChanged();
}

// Beside the history ------------------------------------------------------

void DraftBook::applyDetails(const QList<std::pair<QString, BookFiles::Details>>& details)
{
    QHash<QString, const BookFiles::Details*> byPath;
    for (const auto& [path, read] : details)
        byPath.insert(path, &read);
    int first = -1;
    int last = -1;
    // A row moved meanwhile is a new record of the same file.
    for (qsizetype row = 0; row < mFiles.size() && !byPath.isEmpty(); ++row) {
        ItemRecord& record = *mFiles.at(row);
        if (record.lengthRead)
            continue;
        const BookFiles::Details* read = byPath.take(record.pathColumn);
        if (!read)
            continue;
        BookFiles::apply(*read, record);
        first = first < 0 ? static_cast<int>(row) : first;
        last = static_cast<int>(row);
    }
    if (first < 0)
        return;
    mChaptersStale = true;
    if (mBook && !mBook->tagsRead && bookIsOpen() && mFiles.first()->lengthRead)
        takeBookTags();
    Q_EMIT filesChanged(first, last);
    Q_EMIT chaptersChanged();
    Q_EMIT detailsRead();
}

void DraftBook::forgetDetails(int row)
{
    if (row >= 0 && row < mFiles.size())
        mFiles.at(row)->lengthRead = false;
}

void DraftBook::applyLearned(const QList<ItemRecord>& files)
{
    QHash<QString, const ItemRecord*> byPath;
    for (const ItemRecord& file : files)
        byPath.insert(file.pathColumn, &file);
    bool any = false;
    for (const ItemRecordPtr& record : std::as_const(mFiles)) {
        const ItemRecord* learned = byPath.value(record->pathColumn);
        if (!learned)
            continue;
        record->problem = learned->problem;
        record->symbolicPath = learned->symbolicPath;
        record->mins = learned->mins;
        record->secs = learned->secs;
        record->exact = learned->exact;
        record->loudness = learned->loudness;
        any = true;
    }
    if (any)
        recordsChanged(0, static_cast<int>(mFiles.size()) - 1);
}

RunRequest DraftBook::order() const
{
    RunRequest run{.files = {},
                   .format = mSettings.format,
                   .bitRate = mSettings.bitRate,
                   .sampleRate = mSettings.sampleRate,
                   .mono = mSettings.mono,
                   .tags = mTags,
                   .outputName = mSettings.outputName,
                   .encoders = mSettings.encoders,
                   .evenVolume = mSettings.evenVolume};
    for (const ItemRecordPtr& record : FileHelper::selectMp3Files(mFiles))
        run.files.append(*record);
    return run;
}
