#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// An audio file for the preview. Times are counts of time units;
// timeScale() units make one second. A file opens in the background: until
// whenLoaded() has reported, nothing of it is known.
class Movie
{
public:
    virtual ~Movie() = default;
    // Calls done on the GUI thread once the file has loaded, with whether it
    // plays; never after the movie is gone.
    virtual void whenLoaded(std::function<void(bool playable)> done) = 0;
    virtual void play() = 0;
    virtual void stop() = 0;
    // 0 exactly when not playing.
    [[nodiscard]] virtual float rate() const = 0;
    [[nodiscard]] virtual qint64 currentTime() const = 0;
    virtual void setCurrentTime(qint64 time) = 0;
    [[nodiscard]] virtual qint64 duration() const = 0;
    [[nodiscard]] virtual qint64 timeScale() const = 0;
    virtual void stepForward() = 0;
    virtual void stepBackward() = 0;
};

// Starts opening a file by path; none when there is no path or no file.
using MovieOpener = std::function<std::unique_ptr<Movie>(const std::optional<QString>& path)>;
