// ChapterTool's reading of the chapter list it is given.
#include "ChapterXml.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer list(&bytes);
    list.open(QIODevice::ReadOnly);
    try {
        const std::vector<Chapter> chapters = ChapterXml::read(list);
        // Every start is a time in a book, and every title one line.
        for (const Chapter& chapter : chapters) {
            if (chapter.startMs < 0 || chapter.title.contains(u'\n'))
                __builtin_trap();
        }
        (void)ChapterMovie::textSamples(chapters);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
