// ChapterTool's reading of an audio file's movie header, and the header it
// writes with chapters.
#include "ChapterMovie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        // The movie header among the boxes at the top of the file.
        for (const Mp4Box& box : Mp4Box::parse(file)) {
            if (box.type != "moov")
                continue;
            const ChapterMovie movie(box.serialized());
            const std::vector<Chapter> chapters{{.startMs = 0, .title = QStringLiteral("One")},
                                                {.startMs = 1500, .title = QStringLiteral("Two")}};
            const QByteArray header = movie.withChapters(
                chapters, [](quint64 offset) { return offset + 8; }, 4096);
            // What it writes, it reads again.
            const ChapterMovie again(header);
            (void)again.durationMs();
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
