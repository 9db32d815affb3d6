#pragma once

#include "Movie.h"

#include <memory>

class QAudioOutput;
class QMediaPlayer;

// The preview's player over Qt Multimedia. Times are milliseconds; a step is
// five seconds, about a sentence of speech.
class MediaMovie final : public Movie
{
public:
    static constexpr qint64 kStep = 5000;

    // Loads the file and waits (for at most a few seconds, without taking user
    // input) until it is known whether it plays; none when it does not.
    [[nodiscard]] static std::unique_ptr<Movie> movieWithFile(const std::optional<QString>& path);
    ~MediaMovie() override;

    void play() override;
    void stop() override;
    [[nodiscard]] float rate() const override;
    [[nodiscard]] qint64 currentTime() const override;
    void setCurrentTime(qint64 time) override;
    [[nodiscard]] qint64 duration() const override;
    [[nodiscard]] qint64 timeScale() const override { return 1000; }
    void stepForward() override;
    void stepBackward() override;

private:
    MediaMovie();
    std::unique_ptr<QAudioOutput> mOutput;
    std::unique_ptr<QMediaPlayer> mPlayer;
};
