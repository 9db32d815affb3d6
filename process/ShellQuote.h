#pragma once

#include <QString>

// Quoting for the command strings that tools are run with through /bin/sh -c.
namespace ShellQuote {

// 'text' for the shell; each single quote inside is written as '\'' so the
// text reaches the tool intact and nothing in it is ever run.
[[nodiscard]] QString single(const QString& text);

// The inside of a double-quoted shell word: every character the shell gives a
// meaning there ($, `, \ and ") is preceded by a backslash.
[[nodiscard]] QString insideDouble(const QString& text);

} // namespace ShellQuote
