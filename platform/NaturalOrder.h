#pragma once

#include <QStringView>

// Text in the order people count: runs of digits compare by their value, so
// that "2" comes before "10"; the rest compares as it is.
namespace NaturalOrder {
[[nodiscard]] bool less(QStringView a, QStringView b);
} // namespace NaturalOrder
