#pragma once

#include <QString>
#include <optional>

// The application's resource directory: interface descriptions, sounds, images,
// release notes and the tools: share/fablewick beside the bin folder of the
// executable, as the build and the install lay it out.
class Resources
{
public:
    // The file of exactly this name (with ".type" unless type is empty), or none.
    [[nodiscard]] static std::optional<QString> pathForResource(const QString& name,
                                                                const QString& type);
    [[nodiscard]] static QString directory();
    // Tests point the application at a directory of their own.
    static void setDirectory(const QString& directory);
};
