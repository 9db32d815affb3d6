#include "MediaSoundPlayer.h"

#include <QAudioOutput>
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
    if (!mPlayer)
        return;
    mPlayer->setPosition(0);
    mPlayer->play();
}
