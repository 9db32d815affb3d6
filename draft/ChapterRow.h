#pragma once

#include "ItemRecord.h"

#include <QString>

// One chapter of the book as it plays, or a start that a search for
// silence proposes: the file it starts in, where in that file and in the
// book, how long it plays, and its title as the book gives it.
struct ChapterRow
{
    ItemRecordPtr record;
    qsizetype recordRow = 0;
    bool proposed = false;
    double offset = 0;
    double start = 0;
    double length = 0;
    QString title;
    friend bool operator==(const ChapterRow&, const ChapterRow&) = default;
};

// A chapter or a proposal known by its file and its start there, which
// stays the same while the list around it changes.
struct ChapterPlace
{
    ItemRecordPtr record;
    double offset = 0;
    bool proposed = false;
};
