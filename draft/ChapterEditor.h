#pragma once

#include "ChapterRow.h"
#include "DraftBook.h"
#include "SilenceFinder.h"

#include <QString>
#include <optional>

// The chapter list's edits of a draft, each one step of its history:
// chapters retitled, moved, nudged, shifted, removed, added, proposals
// taken or dropped, the files' own chapters back, a chapter file's
// chapters, and starts found by a search for silence. Chapters belong to
// their files: a chapter's start is kept in the file it starts in. An edit
// that cannot be made changes nothing and says so.
class ChapterEditor
{
public:
    explicit ChapterEditor(DraftBook& book) : mBook(book) {}

    bool retitle(const ChapterRow& chapter, const QString& title);
    // Moves a chapter, or takes a proposal, to a time in the book; none
    // when nothing can start there. Otherwise where it now is.
    std::optional<ChapterPlace> place(const ChapterRow& chapter, double start,
                                      const QString& change);
    // Its time goes to the chapter before it; the book's first chapter stays.
    bool remove(const ChapterRow& chapter);
    void settleProposals(bool take);
    void onePerFile();
    void fromFiles();
    // A chapter starts at that time of the file; none where one starts already.
    std::optional<ChapterPlace> addAt(const ItemRecordPtr& record, double offset);
    // Every chapter after the row given (-1: all but the first) later or
    // earlier by seconds; why not, in words, when a chapter would pass
    // another or the book's end.
    [[nodiscard]] QString shift(double seconds, int afterRow);
    // The chapters of a chapter file, placed across the files; why not, in
    // words, when they cannot be the book's.
    [[nodiscard]] QString import(const QString& path);
    // The files continue the chapter above them, or, when all of them do
    // already, no longer do.
    void joinWithPrevious(const QList<int>& rows);

    // Proposed starts after the silences found in the files searched; the
    // first of them, to show.
    std::optional<ChapterPlace> propose(const ItemList& searched,
                                        const QList<QList<SilenceFinder::Silence>>& silences,
                                        double shortestChapter);
    // Cuts every chapter longer than longest at the silence nearest each
    // such length, or at the length itself where none lies within half of it.
    void splitLong(const ItemList& searched, const QList<QList<SilenceFinder::Silence>>& silences,
                   double longest);

    // Two starts within a millisecond are one: the book keeps milliseconds.
    [[nodiscard]] static bool sameStart(double a, double b);

private:
    // The chapters that start in a record's file, with the book's first one.
    [[nodiscard]] QList<ChapterMark> startsIn(const ItemRecordPtr& record) const;
    [[nodiscard]] static ItemRecord::Edits withStarts(const ItemRecordPtr& record,
                                                      QList<ChapterMark> starts);
    [[nodiscard]] static ItemRecord::Edits withProposals(const ItemRecordPtr& record,
                                                         QList<ChapterMark> proposals);

    DraftBook& mBook;
};
