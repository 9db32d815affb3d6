#include "MediaMovie.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
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
    // Qt's ffmpeg backend opens a file URL by the Latin-1 bytes of its path,
    // so it finds no file whose name has other letters; an open file plays
    // whatever its name.
    movie->mFile = std::make_unique<QFile>(*path);
    if (movie->mFile->open(QIODevice::ReadOnly))
        movie->mPlayer->setSourceDevice(movie->mFile.get(), QUrl::fromLocalFile(*path));
    else
        movie->mPlayer->setSource(QUrl::fromLocalFile(*path));
    return movie;
}

bool MediaMovie::settled() const
{
    const auto status = mPlayer->mediaStatus();
    return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::InvalidMedia ||
           status == QMediaPlayer::BufferedMedia || mPlayer->error() != QMediaPlayer::NoError;
}

bool MediaMovie::playable() const
{
    return mPlayer->error() == QMediaPlayer::NoError &&
           mPlayer->mediaStatus() != QMediaPlayer::InvalidMedia && mPlayer->hasAudio();
}

// Each report is made once, from the player's own signals or its time limit,
// so it can never come after the player is gone.
void MediaMovie::whenLoaded(std::function<void(bool playable)> done)
{
    QMediaPlayer* player = mPlayer.get();
    auto report = std::make_shared<std::function<void(bool)>>(std::move(done));
    auto once = [this, report] {
        if (!*report)
            return;
        const auto callback = std::exchange(*report, {});
        callback(playable());
    };
    if (settled()) {
        QTimer::singleShot(0, player, once);
        return;
    }
    QObject::connect(player, &QMediaPlayer::mediaStatusChanged, player, [this, once] {
        if (settled())
            once();
    });
    QObject::connect(player, &QMediaPlayer::errorOccurred, player, once);
    QTimer::singleShot(kLoadLimit, player, once);
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
