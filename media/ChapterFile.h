#pragma once

#include "ChapterMark.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The chapter files that other tools write and read, with times in the
// book: mp4v2's chapters.txt ("00:04:19.153 Title", "## key: value"
// headers), ffmpeg's ffmetadata (";FFMETADATA1" and [CHAPTER] blocks of
// TIMEBASE, START, END and title), and CUE sheets (TRACK, TITLE,
// INDEX 01 mm:ss:ff at 75 frames a second).
class ChapterFile
{
public:
    enum class Kind
    {
        ChaptersTxt,
        FfMetadata,
        Cue
    };

    // A time as written or typed: "h:mm:ss.mmm", "m:ss", "ss", each with or
    // without a fraction, to the millisecond; none for anything else.
    [[nodiscard]] static std::optional<double> parsedTime(const QString& text);
    // What a file holds, by its first line, then by its name ending in
    // ".cue"; chapters.txt otherwise.
    [[nodiscard]] static Kind kindOf(const QString& name, const QByteArray& bytes);
    // The kind to write under that name: ".cue", ".ffmetadata" or ".meta";
    // chapters.txt otherwise.
    [[nodiscard]] static Kind kindForName(const QString& name);
    // The chapters the file gives, in its order; lines that say nothing of
    // chapters are passed over.
    [[nodiscard]] static ChapterMarks read(const QByteArray& bytes, Kind kind);
    // The chapters in that form, for a book of that length and title.
    [[nodiscard]] static QByteArray written(const ChapterMarks& chapters, Kind kind, double length,
                                            const QString& title);
    // Why the chapters cannot be a book's of that length, naming the first
    // that is out of order or past its end; empty when they can.
    [[nodiscard]] static QString problemWith(const ChapterMarks& chapters, double length);
};
