#include "ChapterEditor.h"

#include "BookFiles.h"
#include "ChapterList.h"

#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

using Edit = DraftBook::Edit;

bool ChapterEditor::sameStart(double a, double b)
{
    return std::abs(a - b) < 0.0005;
}

QList<ChapterMark> ChapterEditor::startsIn(const ItemRecordPtr& record) const
{
    QList<ChapterMark> starts = record->chapterStarts();
    // The book's first chapter is there whether or not its file says so.
    if (!mBook.files().isEmpty() && record == mBook.files().first() &&
        (starts.isEmpty() || starts.first().start > 0))
        starts.prepend(ChapterMark{});
    return starts;
}

ItemRecord::Edits ChapterEditor::withStarts(const ItemRecordPtr& record, QList<ChapterMark> starts)
{
    std::stable_sort(starts.begin(), starts.end(),
                     [](const ChapterMark& a, const ChapterMark& b) { return a.start < b.start; });
    ItemRecord::Edits edits = record->edits();
    edits.chapters = std::move(starts);
    return edits;
}

ItemRecord::Edits ChapterEditor::withProposals(const ItemRecordPtr& record,
                                               QList<ChapterMark> proposals)
{
    ItemRecord::Edits edits = record->edits();
    edits.proposals = std::move(proposals);
    return edits;
}

bool ChapterEditor::retitle(const ChapterRow& chapter, const QString& title)
{
    if (chapter.proposed || !mBook.files().contains(chapter.record))
        return false;
    QList<ChapterMark> starts = startsIn(chapter.record);
    for (ChapterMark& mark : starts) {
        if (sameStart(mark.start, chapter.offset))
            mark.title = title;
    }
    mBook.edit(u"Retitle Chapter"_s, [&](Edit& edit) {
        edit.change(chapter.record, withStarts(chapter.record, std::move(starts)));
    });
    return true;
}

std::optional<ChapterPlace> ChapterEditor::place(const ChapterRow& chapter, double start,
                                                 const QString& change)
{
    // The book always starts with a chapter: its first one stays at 0.
    if ((chapter.start <= 0 && !chapter.proposed) || !mBook.files().contains(chapter.record))
        return std::nullopt;
    const auto at = ChapterList::located(mBook.lengths(), start);
    if (!at)
        return std::nullopt;
    const ItemRecordPtr target = mBook.files().at(at->first);
    const double offset = at->second;
    ChapterMark moved;
    QList<ChapterMark> from =
        chapter.proposed ? chapter.record->proposals : startsIn(chapter.record);
    for (qsizetype i = 0; i < from.size(); ++i) {
        if (sameStart(from.at(i).start, chapter.offset)) {
            moved = from.takeAt(i);
            break;
        }
    }
    moved.start = offset;
    // A file's own chapter keeps the file's title when it moves inside the
    // file or to another; an untitled one inside a file stays numbered.
    if (moved.title.isEmpty() && !chapter.proposed && chapter.offset == 0)
        moved.title = chapter.title;
    const bool within = target == chapter.record && !chapter.proposed;
    QList<ChapterMark> to = within ? from : startsIn(target);
    // Where another chapter starts already, nothing changes.
    if (std::any_of(to.begin(), to.end(),
                    [offset](const ChapterMark& mark) { return sameStart(mark.start, offset); }))
        return std::nullopt;
    to.append(moved);
    mBook.edit(change, [&](Edit& edit) {
        if (chapter.proposed)
            edit.change(chapter.record, withProposals(chapter.record, from));
        else if (!within)
            edit.change(chapter.record, withStarts(chapter.record, from));
        edit.change(target, withStarts(target, std::move(to)));
    });
    return ChapterPlace{.record = target, .offset = offset, .proposed = false};
}

bool ChapterEditor::remove(const ChapterRow& chapter)
{
    if ((chapter.start <= 0 && !chapter.proposed) || !mBook.files().contains(chapter.record))
        return false;
    const ItemRecordPtr& record = chapter.record;
    QList<ChapterMark> marks = chapter.proposed ? record->proposals : startsIn(record);
    marks.removeIf([&](const ChapterMark& mark) { return sameStart(mark.start, chapter.offset); });
    mBook.edit(chapter.proposed ? u"Drop Proposed Start"_s : u"Remove Chapter"_s, [&](Edit& edit) {
        edit.change(record, chapter.proposed ? withProposals(record, marks)
                                             : withStarts(record, marks));
    });
    return true;
}

void ChapterEditor::settleProposals(bool take)
{
    mBook.edit(take ? u"Take All Proposed Starts"_s : u"Drop All Proposed Starts"_s,
               [&](Edit& edit) {
                   for (const ItemRecordPtr& record : mBook.files()) {
                       if (record->proposals.isEmpty())
                           continue;
                       ItemRecord::Edits edits = withProposals(record, {});
                       if (take) {
                           QList<ChapterMark> starts = startsIn(record);
                           for (const ChapterMark& proposal : std::as_const(record->proposals)) {
                               if (std::none_of(starts.begin(), starts.end(),
                                                [&](const ChapterMark& mark) {
                                                    return sameStart(mark.start, proposal.start);
                                                }))
                                   starts.append(proposal);
                           }
                           edits.chapters = withStarts(record, std::move(starts)).chapters;
                       }
                       edit.change(record, edits);
                   }
               });
}

void ChapterEditor::onePerFile()
{
    mBook.edit(u"One Chapter per File"_s, [&](Edit& edit) {
        for (const ItemRecordPtr& record : mBook.files())
            edit.change(record, withStarts(record, {ChapterMark{}}));
    });
}

void ChapterEditor::fromFiles()
{
    mBook.edit(u"Chapters from Files"_s, [&](Edit& edit) {
        for (const ItemRecordPtr& record : mBook.files()) {
            ItemRecord::Edits edits = record->edits();
            edits.chapters.reset();
            edit.change(record, edits);
        }
    });
}

std::optional<ChapterPlace> ChapterEditor::addAt(const ItemRecordPtr& record, double offset)
{
    if (!mBook.files().contains(record))
        return std::nullopt;
    QList<ChapterMark> starts = startsIn(record);
    if (std::none_of(starts.begin(), starts.end(),
                     [offset](const ChapterMark& mark) { return sameStart(mark.start, offset); })) {
        starts.append(ChapterMark{.start = offset, .title = {}});
        mBook.edit(u"Add Chapter"_s,
                   [&](Edit& edit) { edit.change(record, withStarts(record, std::move(starts))); });
    }
    return ChapterPlace{.record = record, .offset = offset, .proposed = false};
}

QString ChapterEditor::shift(double seconds, int afterRow)
{
    const QList<ChapterRow> rows = mBook.chapters();
    const QList<double> lengths = mBook.lengths();
    const double total = mBook.length();
    // The book's first chapter stays at its start.
    const qsizetype first = afterRow >= 0 ? afterRow + 1 : 1;
    struct Moved
    {
        ItemRecordPtr from;
        double offset = 0;
        double start = 0;
        ChapterMark mark;
    };
    QList<Moved> moved;
    double previous = -1;
    QString previousTitle;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ChapterRow& row = rows.at(i);
        if (row.proposed)
            continue;
        double start = row.start;
        if (i >= first) {
            start = std::round((row.start + seconds) * 1000.0) / 1000.0;
            ChapterMark mark{.start = row.offset, .title = {}};
            for (const ChapterMark& own : startsIn(row.record)) {
                if (sameStart(own.start, row.offset))
                    mark.title = own.title;
            }
            // An untitled chapter at its file's start shows the file's title: it keeps it.
            if (mark.title.isEmpty() && row.offset == 0)
                mark.title = row.title;
            moved.append({row.record, row.offset, start, mark});
        }
        if (start <= previous)
            return u"\u201C%1\u201D would start at %2, before \u201C%3\u201D. Shift by less, "
                   "or move the chapters one by one."_s.arg(
                       row.title, ChapterList::bookTime(std::max(0.0, start)), previousTitle);
        if (start >= total)
            return u"\u201C%1\u201D would start at %2, past the book's end at %3. Shift by "
                   "less, or shift only the chapters after a selected one."_s.arg(
                       row.title, ChapterList::bookTime(start), ChapterList::bookTime(total));
        previous = start;
        previousTitle = row.title;
    }
    if (moved.isEmpty())
        return {};
    QHash<const ItemRecord*, QList<ChapterMark>> starts;
    for (const ItemRecordPtr& record : mBook.files())
        starts.insert(record.get(), startsIn(record));
    for (const Moved& chapter : std::as_const(moved))
        starts[chapter.from.get()].removeIf([&chapter](const ChapterMark& mark) {
            return sameStart(mark.start, chapter.offset);
        });
    for (const Moved& chapter : std::as_const(moved)) {
        if (const auto at = ChapterList::located(lengths, chapter.start)) {
            ChapterMark mark = chapter.mark;
            mark.start = at->second;
            starts[mBook.files().at(at->first).get()].append(mark);
        }
    }
    mBook.edit(u"Shift Chapters"_s, [&](Edit& edit) {
        for (const ItemRecordPtr& record : mBook.files())
            edit.change(record, withStarts(record, starts.value(record.get())));
    });
    return {};
}

QString ChapterEditor::import(const QString& path)
{
    QString problem;
    const ChapterMarks chapters = BookFiles::readChapterFile(path, mBook.files(), problem);
    if (!problem.isEmpty())
        return problem;
    const QList<QList<ChapterMark>> placed = BookFiles::placeChapters(mBook.files(), chapters);
    mBook.edit(u"Import Chapters"_s, [&](Edit& edit) {
        for (qsizetype i = 0; i < placed.size(); ++i)
            edit.change(mBook.files().at(i), withStarts(mBook.files().at(i), placed.at(i)));
    });
    return {};
}

void ChapterEditor::joinWithPrevious(const QList<int>& rows)
{
    QList<int> joined;
    for (const int row : rows) {
        // The first file has no chapter above it to continue.
        if (row > 0 && row < mBook.files().size())
            joined << row;
    }
    if (joined.isEmpty())
        return;
    const bool allJoined = std::all_of(joined.begin(), joined.end(), [this](int row) {
        return mBook.files().at(row)->continuesChapter();
    });
    mBook.edit(u"Join with Previous Chapter"_s, [&](Edit& edit) {
        for (const int row : std::as_const(joined)) {
            const ItemRecordPtr& record = mBook.files().at(row);
            QList<ChapterMark> starts = record->chapterStarts();
            if (allJoined)
                starts.prepend(ChapterMark{});
            else if (!record->continuesChapter())
                starts.removeFirst();
            ItemRecord::Edits edits = record->edits();
            edits.chapters = starts;
            edit.change(record, edits);
        }
    });
}

std::optional<ChapterPlace>
ChapterEditor::propose(const ItemList& searched,
                       const QList<QList<SilenceFinder::Silence>>& silences, double shortestChapter)
{
    std::optional<ChapterPlace> first;
    mBook.edit(u"Find Chapters by Silence"_s, [&](Edit& edit) {
        for (qsizetype i = 0; i < searched.size() && i < silences.size(); ++i) {
            const ItemRecordPtr& record = searched.at(i);
            if (!mBook.files().contains(record))
                continue;
            QList<double> starts{0.0};
            for (const ChapterMark& mark : startsIn(record))
                starts << mark.start;
            QList<ChapterMark> proposals;
            for (const double at :
                 SilenceFinder::proposals(silences.at(i), record->lengthColumn.value_or(0), starts,
                                          shortestChapter))
                proposals.append(ChapterMark{.start = at, .title = {}});
            if (!first && !proposals.isEmpty())
                first = ChapterPlace{.record = record,
                                     .offset = proposals.first().start,
                                     .proposed = true};
            edit.change(record, withProposals(record, std::move(proposals)));
        }
    });
    return first;
}

void ChapterEditor::splitLong(const ItemList& searched,
                              const QList<QList<SilenceFinder::Silence>>& silences, double longest)
{
    const ItemList& files = mBook.files();
    const QList<double> lengths = mBook.lengths();
    QList<double> fileStarts;
    double total = 0;
    for (const double length : lengths) {
        fileStarts << total;
        total += length;
    }
    // Where the sound resumes after each silence, in the book.
    QList<double> resumes;
    for (qsizetype i = 0; i < searched.size() && i < silences.size(); ++i) {
        const auto row = files.indexOf(searched.at(i));
        if (row < 0)
            continue;
        for (const SilenceFinder::Silence& silence : silences.at(i))
            resumes << fileStarts.at(row) + silence.end -
                           std::min(0.3, (silence.end - silence.start) / 2);
    }
    std::sort(resumes.begin(), resumes.end());
    QList<double> cuts;
    for (const ChapterRow& chapter : mBook.chapters()) {
        if (chapter.proposed)
            continue;
        const double end = chapter.start + chapter.length;
        for (double from = chapter.start; end - from > longest;) {
            const double target = from + longest;
            // The silence nearest the length, within half of it; else the length itself.
            double cut = target;
            double nearest = longest / 2;
            for (const double at : std::as_const(resumes)) {
                if (at > from + longest / 2 && at < end && std::abs(at - target) < nearest) {
                    cut = at;
                    nearest = std::abs(at - target);
                }
            }
            cuts << std::round(cut * 1000.0) / 1000.0;
            from = cut;
        }
    }
    QHash<const ItemRecord*, QList<ChapterMark>> starts;
    for (const double cut : std::as_const(cuts)) {
        const auto at = ChapterList::located(lengths, cut);
        if (!at)
            continue;
        const ItemRecordPtr& record = files.at(at->first);
        if (!starts.contains(record.get()))
            starts.insert(record.get(), startsIn(record));
        QList<ChapterMark>& marks = starts[record.get()];
        if (std::none_of(marks.begin(), marks.end(),
                         [&](const ChapterMark& mark) { return sameStart(mark.start, at->second); }))
            marks.append(ChapterMark{.start = at->second, .title = {}});
    }
    mBook.edit(u"Split Long Chapters"_s, [&](Edit& edit) {
        for (const ItemRecordPtr& record : files) {
            if (starts.contains(record.get()))
                edit.change(record, withStarts(record, starts.value(record.get())));
        }
    });
}
