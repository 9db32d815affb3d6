#pragma once

#include <QString>

// A version read as one decimal number, the way it is compared: leading white
// space skipped, the longest leading decimal number taken as a float, 0 when
// there is none. So 1.2.3 reads as 1.2, and 1.10 as 1.1.
[[nodiscard]] float versionNumber(const QString& text);
