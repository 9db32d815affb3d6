#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class DraftBook;

// What fablewick-book info tells of an opened book: its format, length and
// audio, the tags as the tag sheet shows them and every tag the file has,
// the cover's type and size, the chapters, and whether and why not it can
// be written again. As JSON, and as text made from the same.
namespace BookInfo {

[[nodiscard]] QJsonObject of(const DraftBook& draft);
[[nodiscard]] QString text(const QJsonObject& info);
// "1:02:03.456"
[[nodiscard]] QString time(double seconds);
// The chapters as "  N  start  length  title" lines.
[[nodiscard]] QString chapterLines(const QJsonArray& chapters);
[[nodiscard]] QJsonArray chapters(const DraftBook& draft, bool proposed);

} // namespace BookInfo
