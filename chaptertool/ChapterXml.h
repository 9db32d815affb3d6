#pragma once

#include "ChapterMovie.h"

#include <QIODevice>
#include <vector>

// The chapter list that the application hands the tool:
// <chapters><chapter starttime="M:S.mmm"><title>…</title></chapter>…</chapters>.
namespace ChapterXml {

// The chapters in the order listed. Throws std::runtime_error with the
// rest of a sentence that starts with the list's name ("is empty").
[[nodiscard]] std::vector<Chapter> read(QIODevice& list);

} // namespace ChapterXml
