#pragma once

#include <QString>
#include <optional>

// What the disk that holds a path has left for us.
namespace DiskSpace {
// Bytes free to this user on the file system of path, or of the nearest
// folder above it that exists; none when that cannot be told.
[[nodiscard]] std::optional<qint64> available(const QString& path);
// Whether an error number says that a disk, or our share of it, is full.
[[nodiscard]] bool meansFull(int error);
// About how large, in two figures: "900 MB", "1.2 GB".
[[nodiscard]] QString roundedSize(double bytes);
// A disk that is full, or too full for a book, in words for the user.
[[nodiscard]] QString fullText(const QString& folder, qint64 needed);
} // namespace DiskSpace
