// MP3 files as the list checks them, the join measures them and a split cuts them.
#include "FuzzFile.h"
#include "Mp3Frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = FuzzFile::write(data, size);
    const Mp3Frames::Check check = Mp3Frames::check(path);
    const auto measure = Mp3Frames::measure(path);
    const auto span = Mp3Frames::framesSpan(path);
    // Frames to cut at lie one after another inside the file.
    if (const auto frames = Mp3Frames::frames(path)) {
        qint64 last = -1;
        for (const qint64 start : frames->starts) {
            if (start <= last || start >= frames->end)
                __builtin_trap();
            last = start;
        }
        if (frames->end > static_cast<qint64>(size))
            __builtin_trap();
    }
    // What the list takes for audio, the join can measure and place.
    if (check.isAudio() && !measure)
        __builtin_trap();
    if (span &&
        (span->begin < 0 || span->end < span->begin || span->end > static_cast<qint64>(size)))
        __builtin_trap();
    return 0;
}
