#pragma once

#include "BookFormat.h"
#include "RunRequest.h"

#include <QString>
#include <optional>

// How the book is made: what the output sheet asks, or the command line.
struct OutputSettings
{
    BookFormat format = BookFormat::AacBookmark;
    // None keeps the source's own.
    std::optional<QString> bitRate = QStringLiteral("64k");
    std::optional<QString> sampleRate = QStringLiteral("44100");
    bool mono = true;
    EvenVolume evenVolume = EvenVolume::Off;
    // The book's name, without its extension.
    QString outputName;
    // How many encoders run at once; 0 is one per core.
    int encoders = 0;
};
