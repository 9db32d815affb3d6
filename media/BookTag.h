#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The leading tag of an MP3 audiobook: ID3v2.4 with the book's tags, its
// cover, the genre "Audiobook", and its chapters as CHAP frames listed in a
// CTOC table of contents, as players of chaptered MP3 books read them.
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

    // The tag's bytes, rendered by TagLib.
    [[nodiscard]] QByteArray rendered() const;
    // The ID3v2 tag of the MP3 file at path with these tags and chapters in
    // place of its own, and every other frame of it kept (a tagger's track
    // number, lyrics, private frames), rendered. Throws std::runtime_error
    // when the file cannot be read.
    [[nodiscard]] QByteArray renderedOver(const QString& path) const;
    // Writes these tags into the MP4 file at path, keeping its others.
    // Chapters are the chapter tool's to write. Throws when it cannot.
    void writeMp4(const QString& path) const;
};
