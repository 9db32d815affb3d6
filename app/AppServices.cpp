#include "AppServices.h"

#include "MediaMovie.h"
#include "MediaSoundPlayer.h"
#include "PeakReader.h"
#include "QtDialogService.h"
#include "UpdateChecker.h"

#include <QDesktopServices>

AppServices AppServices::desktop()
{
    AppServices services;
    services.dialogs = std::make_unique<QtDialogService>();
    services.makeSound = [](const std::optional<QString>& path) {
        return std::make_unique<MediaSoundPlayer>(path);
    };
    services.openMovie = &MediaMovie::movieWithFile;
    services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    services.updateFeedUrl = UpdateChecker::feedURLString();
    services.peaksFolder = PeakReader::defaultCacheFolder();
    return services;
}
