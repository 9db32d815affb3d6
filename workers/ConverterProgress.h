#pragma once

#include "LineBuffer.h"

#include <QByteArray>
#include <QString>
#include <optional>

// One progress report of the encoder: its position in seconds and the text
// shown for it.
struct ConverterReport
{
    double position = 0;
    QString description;
};

// Reads ffmpeg's standard error. Chunks arrive cut anywhere; lines end in \r or
// \n. Each chunk yields at most one report: the first complete progress line
// it finishes.
class ConverterProgress
{
public:
    explicit ConverterProgress(qint32 lengthInSeconds) : mLength(lengthInSeconds) {}
    [[nodiscard]] std::optional<ConverterReport> feed(const QByteArray& chunk);
    // What is left when the stream ends.
    [[nodiscard]] std::optional<ConverterReport> finish();

    // The position after "time=": plain seconds, or hours:minutes:seconds.
    [[nodiscard]] static float readTime(QStringView text);
    [[nodiscard]] static QString describe(float position, qint32 lengthInSeconds);

private:
    [[nodiscard]] std::optional<ConverterReport> reportFor(const QByteArray& line) const;

    qint32 mLength;
    LineBuffer mLines;
};
