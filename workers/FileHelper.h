#pragma once

#include "ItemRecord.h"

#include <QString>
#include <optional>

// The folders of a production run and the choice of files to join.
class FileHelper
{
public:
    // The folder of that name in the system's temporary directory (the directory
    // itself without a name), made with permissions 0700. An existing entry is
    // reused only when it is a real directory, not a link, owned by this user;
    // otherwise, or when it cannot be made, none.
    [[nodiscard]] static std::optional<QString>
    makeNewTempFolder(const std::optional<QString>& folderName);
    // Why makeNewTempFolder gives none for that folder, in words for the user.
    [[nodiscard]] static QString whyTempFolderRefused(const QString& folderName);
    // The same for a folder inside base.
    [[nodiscard]] static std::optional<QString> makeNewSubFolder(const QString& base,
                                                                 const QString& folderName);
    // Removes every entry of the folder for good, hidden ones included. Links are
    // removed, never what they point to. True when everything went.
    static bool deleteContentOfDirectory(const QString& path);
    // The records of files that are listed as audio, in order.
    [[nodiscard]] static ItemList selectMp3Files(const ItemList& records);
};
