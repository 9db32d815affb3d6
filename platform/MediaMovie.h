#pragma once

#include "Movie.h"

#include <memory>

class QAudioOutput;
class QFile;
class QMediaPlayer;

// The preview's player over Qt Multimedia. Times are milliseconds; a step is
// five seconds, about a sentence of speech.
class MediaMovie final : public Movie
{
public:
    static constexpr qint64 kStep = 5000;

    // Starts loading the file; none when there is no such file.
    [[nodiscard]] static std::unique_ptr<Movie> movieWithFile(const std::optional<QString>& path);
    ~MediaMovie() override;

    // A file that has not settled after kLoadLimit counts as one that does not play.
    static constexpr int kLoadLimit = 5000;
    void whenLoaded(std::function<void(bool playable)> done) override;

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
    [[nodiscard]] bool settled() const;
    [[nodiscard]] bool playable() const;
    std::unique_ptr<QAudioOutput> mOutput;
    // The player reads the file through this, for as long as it lives.
    std::unique_ptr<QFile> mFile;
    std::unique_ptr<QMediaPlayer> mPlayer;
};
