#pragma once

#include <QString>
#include <QStringList>

// One book that a public catalogue found: what it says of it, as plain
// text, and where its cover lies, at the largest size it offers and as a
// thumbnail.
struct CatalogueResult
{
    QString catalogue;
    QString title;
    QStringList authors;
    QString year;
    QString publisher;
    QString description;
    QString series;
    QString seriesNumber;
    QString isbn;
    QString coverUrl;
    QString thumbnailUrl;
    friend bool operator==(const CatalogueResult&, const CatalogueResult&) = default;
};
