#pragma once

#include "BookTag.h"
#include "ItemRecord.h"

#include <QByteArray>

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
    // The chapters that a record starts at `start`: its own, or those that
    // the file carries when the lengths are exact, at their places in it.
    [[nodiscard]] static QList<std::pair<double, QString>> chaptersOf(const ItemRecord& record,
                                                                      double start, bool exact);
    // "M:S", or "M:S.mmm" when the start has a fraction of a second.
    [[nodiscard]] static QString startTime(double seconds);
    // &, < and > in a title, written so that an XML reader gets the title back.
    [[nodiscard]] static QString escaped(const QString& title);
};
