#pragma once

#include <QByteArray>
#include <QFlags>
#include <QList>
#include <QString>

// The tags of an audiobook as the tag sheet holds them, and their writers:
// a new MP3 book's ID3v2.4 tag, with its cover, the genre "Audiobook" and
// its chapters as CHAP frames listed in a CTOC table of contents, as
// players of chaptered MP3 books read them; and a finished book's tags
// changed where they were edited, every other item kept as it was.
struct BookTag
{
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString comment;
    QString narrator;
    QString year;
    QString description;
    QString series;
    QString seriesNumber;
    QByteArray cover;
    QString coverMimeType;
    struct Chapter
    {
        QString title;
        quint32 startMs = 0;
        quint32 endMs = 0;
    };
    QList<Chapter> chapters;

    // A track number "N/total" in a book split into files; 0: none.
    int track = 0;
    int tracks = 0;

    enum class Field : unsigned {
        Title = 1U << 0,
        Artist = 1U << 1,
        Album = 1U << 2,
        AlbumArtist = 1U << 3,
        Comment = 1U << 4,
        Narrator = 1U << 5,
        Year = 1U << 6,
        Description = 1U << 7,
        // The series and its number.
        Series = 1U << 8,
        Cover = 1U << 9,
        Chapters = 1U << 10,
        Track = 1U << 11,
    };
    Q_DECLARE_FLAGS(Fields, Field)
    static constexpr Fields kEveryField = Fields::fromInt((1U << 12) - 1);
    // What a write puts into a file; the file keeps its own of the others.
    // A new book takes every field, a book saved again what was edited.
    Fields written = kEveryField;
    // The fields, chapters included, in which these tags differ from those.
    [[nodiscard]] Fields differencesFrom(const BookTag& other) const;

    // A new MP3 book's tag, rendered by TagLib.
    [[nodiscard]] QByteArray rendered() const;
    // The ID3v2 tag of the MP3 file at path with the written fields in place
    // of its own, and every other frame of it kept (a tagger's track number,
    // lyrics, pictures, private frames), rendered in its own version. Throws
    // std::runtime_error when the file cannot be read.
    [[nodiscard]] QByteArray renderedOver(const QString& path) const;
    // Writes the written fields into the MP4 file at path, keeping every
    // other item. Chapters are the chapter tool's to write. Throws when it
    // cannot.
    void writeMp4(const QString& path) const;

    // One file of a book cut into files carries the book's tags but for its
    // chapters and length, with the written fields over them (the chapter's
    // title and number). From an MP3 book to an MP3 file its frames are
    // kept, from an MP4 book to an MP4 file its items; across the two, what
    // TagLib maps between them, with the cover, description and series.
    [[nodiscard]] QByteArray renderedPartOf(const QString& book) const;
    void writeMp4PartOf(const QString& book, const QString& part) const;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(BookTag::Fields)
