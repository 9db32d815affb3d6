#pragma once

#include "CatalogueResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The answers of the catalogues' searches, in their published formats,
// read as bytes from strangers: refused when larger than kLargest, nested
// deeper than kDeepest, or not the JSON object the catalogue sends; each
// text taken as plain text and cut to a sensible length.
namespace CatalogueAnswer {

constexpr qsizetype kLargest = qsizetype{2} << 20;
constexpr int kDeepest = 32;
// No more results are taken from one answer.
constexpr qsizetype kMostResults = 20;

// Open Library's search.json; coversBase is where its covers lie.
[[nodiscard]] std::optional<QList<CatalogueResult>> openLibrary(const QByteArray& answer,
                                                                const QString& coversBase);
// Google Books' volumes list.
[[nodiscard]] std::optional<QList<CatalogueResult>> googleBooks(const QByteArray& answer);

// Whether the JSON nests no deeper than the limit, counted outside strings.
[[nodiscard]] bool nestsWithin(const QByteArray& json, int depth);

} // namespace CatalogueAnswer
