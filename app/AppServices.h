#pragma once

#include "DialogService.h"
#include "Movie.h"
#include "SoundPlayer.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

// What the controller uses of the desktop, so that tests can stand in for it.
struct AppServices
{
    std::unique_ptr<DialogService> dialogs;
    std::function<std::unique_ptr<SoundPlayer>(const std::optional<QString>& path)> makeSound;
    MovieOpener openMovie;
    // Opens a file or web page with the user's default application.
    std::function<bool(const QUrl& url)> openUrl;
    // Where the update feed is fetched from.
    QString updateFeedUrl;
    // Where the waveform's peak summaries are made and kept; empty, none are.
    QString peaksFolder;

    // The real desktop: Qt's dialogs and sound.
    [[nodiscard]] static AppServices desktop();
};
