#pragma once

#include <QList>
#include <QString>

// A chapter that a file marks itself: where it starts in the file, and its
// title, which may be empty.
struct ChapterMark
{
    double start = 0;
    QString title;
    friend bool operator==(const ChapterMark&, const ChapterMark&) = default;
};

using ChapterMarks = QList<ChapterMark>;
