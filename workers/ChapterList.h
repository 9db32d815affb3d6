#pragma once

#include "ItemRecord.h"

#include <QByteArray>

// The chapter list "Chapters.xml": one line, one chapter per record, each
// starting where the playing times of the records before it add up to.
// Minutes and seconds are summed apart, so seconds may pass 59.
class ChapterList
{
public:
    [[nodiscard]] static QByteArray xml(const ItemList& records);
    // &, < and > in a title, written so that an XML reader gets the title back.
    [[nodiscard]] static QString escaped(const QString& title);
};
