// Chapter files that users import: chapters.txt, ffmetadata and CUE sheets,
// as tools and strangers write them. The first byte picks the form.
#include "ChapterFile.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto kind = static_cast<ChapterFile::Kind>(data[0] % 3);
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    const ChapterMarks chapters = ChapterFile::read(bytes, kind);
    // Every chapter is a time that a book can hold, and what is read can be
    // written out again in every form and read back as many chapters.
    for (const ChapterMark& chapter : chapters) {
        if (!std::isfinite(chapter.start) || chapter.start < 0)
            __builtin_trap();
    }
    (void)ChapterFile::problemWith(chapters, 3600);
    for (const auto form : {ChapterFile::Kind::ChaptersTxt, ChapterFile::Kind::FfMetadata})
        if (ChapterFile::read(ChapterFile::written(chapters, form, 3600, QStringLiteral("t")), form)
                .size() != chapters.size())
            __builtin_trap();
    return 0;
}
