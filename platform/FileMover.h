#pragma once

#include <QString>

// Moves a finished file to its destination, also across file systems (the
// temporary folder may lie on another one than the Desktop). The file is staged
// beside the destination and renamed into place, so no partial file is ever
// left under the destination's name.
class FileMover
{
public:
    // Moves source to destination, which must not exist. True on success.
    [[nodiscard]] static bool move(const QString& source, const QString& destination);
    // Moves source to destination, removing whatever item (file, folder, link)
    // stands there, but only once the new file is safely staged. True on success.
    [[nodiscard]] static bool moveReplacing(const QString& source, const QString& destination);
    // True when any item, a dangling link included, stands at the path.
    [[nodiscard]] static bool itemExists(const QString& path);
};
