#pragma once

#include <QString>

// Moves a finished file to its destination, also across file systems (the
// temporary folder may lie on another one than the Desktop). The file is staged
// beside the destination and renamed into place, so no partial file is ever
// left under the destination's name, and the file is never lost: when it cannot
// be put in place it goes back where it came from.
class FileMover
{
public:
    struct Outcome
    {
        // The file stands at the destination.
        bool moved = false;
        // Where the file is when it was not moved; empty when there was none to move.
        QString keptAt;
        // Why it was not moved, in words for the user, and the system's
        // error number when it had one.
        QString reason;
        int error = 0;
        explicit operator bool() const { return moved; }
    };

    // Moves source to destination, which must not exist.
    [[nodiscard]] static Outcome move(const QString& source, const QString& destination);
    // Moves source to destination in place of whatever item (file, folder, link)
    // stands there. A file or link is replaced in one step; a folder is first
    // put aside, and removed once the new file is in place.
    [[nodiscard]] static Outcome moveReplacing(const QString& source, const QString& destination);
    // True when any item, a dangling link included, stands at the path.
    [[nodiscard]] static bool itemExists(const QString& path);
};
