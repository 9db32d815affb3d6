#include "AppServices.h"

#include "MediaMovie.h"
#include "MediaSoundPlayer.h"
#include "QtDialogService.h"

AppServices AppServices::desktop()
{
    AppServices services;
    services.dialogs = std::make_unique<QtDialogService>();
    services.makeSound = [](const std::optional<QString>& path) {
        return std::make_unique<MediaSoundPlayer>(path);
    };
    services.openMovie = &MediaMovie::movieWithFile;
    return services;
}
