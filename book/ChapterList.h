#pragma once

#include "BookTag.h"
#include "ItemRecord.h"

#include <QByteArray>
#include <optional>
#include <utility>

// The chapter list "Chapters.xml": one line, one chapter per record, or per
// group of records that continue the one before, or per chapter that a
// record's file carries, each starting where the
// playing times of the records before it add up to: their exact lengths when
// every record has one, else their whole minutes and seconds, summed apart,
// so that seconds may pass 59.
class ChapterList
{
public:
    [[nodiscard]] static QByteArray xml(const ItemList& records);
    // Whether every record has an exact length, measured from its frames.
    [[nodiscard]] static bool hasExactLengths(const ItemList& records);
    // Where each record starts in the joined stream, in seconds: exact when
    // every record has an exact length, else from whole minutes and seconds.
    [[nodiscard]] static QList<double> startSeconds(const ItemList& records);
    // The chapters of an MP3 book, which plays the files' bytes joined as
    // they are, with where each starts and ends there in milliseconds.
    [[nodiscard]] static QList<BookTag::Chapter> mp3Chapters(const ItemList& records);
    // One chapter of the book: the record it starts in, where in that
    // file, where in the book, and its title as the book gives it.
    struct Placed
    {
        qsizetype record = 0;
        double offset = 0;
        double start = 0;
        QString title;
    };
    // Every chapter of the book, given where each record starts and where
    // its audio starts, and how long each plays (0: not known). The book's
    // first chapter starts at 0; a start at or past its file's end is left
    // out. An untitled chapter is its file's title at the file's start, and
    // "Chapter N" by its place in the book further in.
    [[nodiscard]] static QList<Placed> placed(const ItemList& records,
                                              const QList<double>& fileStarts,
                                              const QList<double>& audioStarts,
                                              const QList<double>& lengths);
    // A time in the book as the chapter list shows it: "h:mm:ss.mmm".
    [[nodiscard]] static QString bookTime(double seconds);
    // The record that plays at that time of a book of records of these
    // lengths, one after another, and the time in it; none at or past the end.
    [[nodiscard]] static std::optional<std::pair<qsizetype, double>>
    located(const QList<double>& lengths, double seconds);
    // "M:S", or "M:S.mmm" when the start has a fraction of a second.
    [[nodiscard]] static QString startTime(double seconds);
    // &, < and > in a title, written so that an XML reader gets the title back.
    [[nodiscard]] static QString escaped(const QString& title);
};
