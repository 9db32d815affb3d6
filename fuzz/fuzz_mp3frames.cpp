// MP3 files as the list checks them, the join measures them, the book's tag
// step lays their frames end to end and a split cuts them.
#include "FuzzFile.h"
#include "Mp3Frames.h"
#include "Mp3InfoFrame.h"

#include <QFile>

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
    // The runs of a joined file lie in order inside it, its frames inside
    // them, and its Info frame told again keeps its length.
    if (const auto joined = Mp3Frames::joined(path)) {
        qint64 last = 0;
        for (const Mp3Frames::Span& run : joined->runs) {
            if (run.begin < last || run.end <= run.begin || run.end > static_cast<qint64>(size))
                __builtin_trap();
            last = run.end;
        }
        qint64 previous = -1;
        for (const qint64 start : joined->starts) {
            if (start <= previous || start >= joined->bytes())
                __builtin_trap();
            previous = start;
        }
        if (joined->infoLength > 0 && !joined->runs.empty()) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly) && file.seek(joined->runs.front().begin)) {
                const QByteArray first = file.read(joined->infoLength);
                if (const auto told = Mp3InfoFrame::retold(first, *joined);
                    told && told->size() != first.size())
                    __builtin_trap();
            }
        }
    }
    // What the list takes for audio, the join can measure and place.
    if (check.isAudio() && !measure)
        __builtin_trap();
    if (span &&
        (span->begin < 0 || span->end < span->begin || span->end > static_cast<qint64>(size)))
        __builtin_trap();
    return 0;
}
