#pragma once

#include "DraftBook.h"

#include <QString>

// The file list's edits of a draft, each one step of its history: files
// removed, moved, retitled, sorted by their tags' disc and track, and
// titled from their tags or names.
class ListEditor
{
public:
    explicit ListEditor(DraftBook& book) : mBook(book) {}

    void remove(int row);
    void clear();
    // Moves the file at from to the drop position above dropRow, as a new
    // record of what the move carried; rows keep their numbers.
    void move(int from, int dropRow, const ItemRecord& carried);
    void retitle(int row, const QString& title);
    // Disc, then track, then the path in natural order; always ascending.
    void sortByTrack();
    void titlesFromTags();
    void titlesFromFileNames();

private:
    void retitleAll(const QString& change, bool fromTags);

    DraftBook& mBook;
};
