#pragma once

#include <QStringView>

// The number at the start of a text, read the way tool output and feeds are
// read: leading white space skipped, an optional sign, then the longest
// number; 0 when there is none. Anything after it is ignored.
[[nodiscard]] qint32 leadingIntValue(QStringView text);
// As a decimal number in single precision: 1.2.3 reads as 1.2, 1.10 as 1.1.
[[nodiscard]] float leadingFloatValue(QStringView text);
