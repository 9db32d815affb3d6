#pragma once

#include <QString>
#include <QStringList>

// Books made and tagged by other tools, as users bring them, and what
// independent readers make of their tags.

// A description past the 255 characters that an MP4 file's short one holds.
extern const QString kLongDescription;

// Runs a script in Debian's python3, which has mutagen.
bool python(const QString& script, const QStringList& arguments);

enum class Tagger
{
    AtomicParsley,
    Mutagen,
    Ffmpeg,
    TagLib,
};

// A front and a back cover, of different kinds and colours.
struct Covers
{
    QString front;
    QString back;
};
[[nodiscard]] Covers makeCovers(const QString& folder);

// A 12-s book of three chapters made by ffmpeg, then tagged by the tagger
// with the same tags in its own way: title, artist, narrator, year, the
// series and its number, a long description, a comment, and what the tag
// sheet has no place for (sort tags, a shop's ID, a media kind, pictures
// beside the front cover).
bool makeTaggedBook(const QString& path, Tagger tagger, const Covers& covers);

// What three independent readers make of a file's tags, a line each,
// sorted: AtomicParsley's atoms (MP4 only), ffprobe's tags and chapters,
// and exiftool's tags with every picture's MD5 sum. Where the file keeps
// its bytes and the order of its items is left out.
[[nodiscard]] QStringList tagsRead(const QString& path);
