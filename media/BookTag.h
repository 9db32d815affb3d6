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

    // The tag's bytes, rendered by TagLib.
    [[nodiscard]] QByteArray rendered() const;
};
