#pragma once

#include "DialogService.h"
#include "Movie.h"
#include "SoundPlayer.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What the controller uses of the desktop, so that tests can stand in for it.
struct AppServices
{
    std::unique_ptr<DialogService> dialogs;
    std::function<std::unique_ptr<SoundPlayer>(const std::optional<QString>& path)> makeSound;
    MovieOpener openMovie;

    // The real desktop: Qt's dialogs and sound.
    [[nodiscard]] static AppServices desktop();
};
