// CUE sheets found beside the audio, as rippers and strangers write them.
#include "CueSheet.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray sheet(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Every mark is a time that a book can hold.
    for (const ChapterMark& mark : CueSheet::marksFor(sheet, QStringLiteral("01 Book.flac"))) {
        if (!std::isfinite(mark.start) || mark.start < 0)
            __builtin_trap();
    }
    return 0;
}
