#pragma once

#include "SoundPlayer.h"

#include <QString>
#include <memory>
#include <optional>

class QAudioOutput;
class QMediaPlayer;

class MediaSoundPlayer final : public SoundPlayer
{
public:
    explicit MediaSoundPlayer(const std::optional<QString>& path);
    ~MediaSoundPlayer() override;
    void play() override;

private:
    std::unique_ptr<QAudioOutput> mOutput;
    std::unique_ptr<QMediaPlayer> mPlayer;
};
