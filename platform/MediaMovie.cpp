#include "MediaMovie.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>

MediaMovie::MediaMovie()
    : mOutput(std::make_unique<QAudioOutput>()), mPlayer(std::make_unique<QMediaPlayer>())
{
    mPlayer->setAudioOutput(mOutput.get());
}

MediaMovie::~MediaMovie()
{
    mPlayer->stop();
}

std::unique_ptr<Movie> MediaMovie::movieWithFile(const std::optional<QString>& path)
{
    if (!path || !QFileInfo(*path).isFile())
        return nullptr;
    std::unique_ptr<MediaMovie> movie(new MediaMovie());
    QMediaPlayer* player = movie->mPlayer.get();
    QEventLoop loop;
    auto settled = [player] {
        const auto status = player->mediaStatus();
        return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::InvalidMedia ||
               status == QMediaPlayer::BufferedMedia || player->error() != QMediaPlayer::NoError;
    };
    QObject::connect(player, &QMediaPlayer::mediaStatusChanged, &loop, [&] {
        if (settled())
            loop.quit();
    });
    QObject::connect(player, &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    player->setSource(QUrl::fromLocalFile(*path));
    if (!settled())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (player->error() != QMediaPlayer::NoError ||
        player->mediaStatus() == QMediaPlayer::InvalidMedia || !player->hasAudio())
        return nullptr;
    return movie;
}

void MediaMovie::play()
{
    // Qt's ffmpeg backend crashes when it plays with no sound device at all.
    if (QMediaDevices::defaultAudioOutput().isNull())
        return;
    mPlayer->play();
}

void MediaMovie::stop()
{
    mPlayer->pause();
}

float MediaMovie::rate() const
{
    return mPlayer->playbackState() == QMediaPlayer::PlayingState
               ? static_cast<float>(mPlayer->playbackRate())
               : 0.0F;
}

qint64 MediaMovie::currentTime() const
{
    return mPlayer->position();
}

void MediaMovie::setCurrentTime(qint64 time)
{
    mPlayer->setPosition(time);
}

qint64 MediaMovie::duration() const
{
    return mPlayer->duration();
}

void MediaMovie::stepForward()
{
    mPlayer->setPosition(std::min(mPlayer->position() + kStep, mPlayer->duration()));
}

void MediaMovie::stepBackward()
{
    mPlayer->setPosition(std::max<qint64>(mPlayer->position() - kStep, 0));
}
