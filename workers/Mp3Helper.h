#pragma once

#include <QString>
#include <optional>

// A file's playing time as mp3info prints it: whole minutes, and the seconds after them.
struct Mp3Time
{
    QString mins;
    QString secs;
};

// Questions about one MP3 file, each answered by one run of mp3info.
class Mp3Helper
{
public:
    // The bit rate in kbit/s, as printed; empty when unreadable; none when not ASCII.
    [[nodiscard]] static std::optional<QString> getBitrateOfMP3(const QString& path);
    // The sample frequency in Hz, as printed; empty when unreadable; none when not ASCII.
    [[nodiscard]] static std::optional<QString> getSampleFrequencyOfMP3(const QString& path);
    // Throws WorkerException when the output holds no "_SPLIT_".
    [[nodiscard]] static Mp3Time getTimeOfMP3(const QString& path);
    // Both of the above from one run of mp3info, as a list reads them for
    // each of its files; each empty where the tool gives nothing.
    struct Rates
    {
        QString bitrate;
        QString sampleFrequency;
    };
    [[nodiscard]] static Rates getRatesOfMP3(const QString& path);
    // Whole seconds; 0 when unreadable.
    [[nodiscard]] static qint32 getUnixTimeOfMP3(const QString& path);

    // The command run for the format code (r, Q, m_SPLIT_%s, S) on the path.
    [[nodiscard]] static QString queryCommand(const QString& format, const QString& path);
};
