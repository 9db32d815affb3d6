// MP3 files as the list checks them and the join measures them.
#include "FuzzFile.h"
#include "Mp3Frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = FuzzFile::write(data, size);
    const Mp3Frames::Check check = Mp3Frames::check(path);
    const auto measure = Mp3Frames::measure(path);
    const auto span = Mp3Frames::framesSpan(path);
    // What the list takes for audio, the join can measure and place.
    if (check.isAudio() && !measure)
        __builtin_trap();
    if (span &&
        (span->begin < 0 || span->end < span->begin || span->end > static_cast<qint64>(size)))
        __builtin_trap();
    return 0;
}
