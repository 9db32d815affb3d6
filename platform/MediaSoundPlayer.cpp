#include "MediaSoundPlayer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>

MediaSoundPlayer::MediaSoundPlayer(const std::optional<QString>& path)
{
    if (!path)
        return;
    mOutput = std::make_unique<QAudioOutput>();
    mPlayer = std::make_unique<QMediaPlayer>();
    mPlayer->setAudioOutput(mOutput.get());
    mPlayer->setSource(QUrl::fromLocalFile(*path));
}

MediaSoundPlayer::~MediaSoundPlayer() = default;

void MediaSoundPlayer::play()
{
    // Qt's ffmpeg backend crashes when it plays with no sound device at all.
    if (!mPlayer || QMediaDevices::defaultAudioOutput().isNull())
        return;
    mPlayer->setPosition(0);
    mPlayer->play();
}
