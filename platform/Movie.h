#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// A loaded audio file for the preview. Times are counts of time units;
// timeScale() units make one second.
class Movie
{
public:
    virtual ~Movie() = default;
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

// Opens a file by path; none when there is no path or it cannot be opened.
using MovieOpener = std::function<std::unique_ptr<Movie>(const std::optional<QString>& path)>;
