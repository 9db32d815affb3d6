#pragma once

#include "Mp3Frames.h"
#include "RunRequest.h"

#include <QString>
#include <vector>

// What a run checks of its files and of what it made, each an answer in
// words for the user, empty when all is well. Problems found are marked on
// the records too, for the list to show.
namespace RunChecks {
// Every file is looked at again: gone, unreadable, not audio, cut short,
// or, when joined, of another rate or channel count than the first.
[[nodiscard]] QString filesToJoin(const RunWork& run);
// The decoded sources that play for less than their listed length.
[[nodiscard]] QString decodedCutShort(const RunWork& run, const std::vector<qint64>& samples);
// Why the encoded or copied book at that path is not whole.
[[nodiscard]] QString bookShortfall(const RunWork& run, const QString& book);
// About how much the run writes in its temporary folder, in bytes.
[[nodiscard]] qint64 roomNeeded(const RunWork& run);
// Why a file cannot be joined, as the list shows it ("is not an MP3 file").
[[nodiscard]] QString problemText(const Mp3Frames::Check& check);
} // namespace RunChecks
