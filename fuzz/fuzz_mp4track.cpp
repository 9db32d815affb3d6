// MP4 files as the list reads their boxes and AAC track for a copy.
#include "FuzzFile.h"
#include "Mp4AudioTrack.h"
#include "Mp4Box.h"
#include "Mp4Chapters.h"

#include <numeric>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        (void)Mp4Box::parse(
            QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    } catch (const std::runtime_error&) {
    }
    const QString path = FuzzFile::write(data, size);
    try {
        if (Mp4Chapters::read(path).size() > Mp4Chapters::kMostChapters)
            __builtin_trap();
    } catch (const std::runtime_error&) {
    }
    for (const auto times : {Mp4AudioTrack::Times::Every1024, Mp4AudioTrack::Times::AsWritten})
        try {
            const Mp4AudioTrack track = Mp4AudioTrack::read(path, times);
            // A track that is read is one that a copy can walk without leaving its tables.
            const quint64 listed =
                std::accumulate(track.chunkFrames.begin(), track.chunkFrames.end(), quint64{0});
            if (listed != track.sizes.size() ||
                track.chunkFrames.size() != track.chunkOffsets.size())
                __builtin_trap();
            std::size_t frame = 0;
            for (std::size_t c = 0; c < track.chunkOffsets.size(); ++c) {
                quint64 end = track.chunkOffsets[c];
                for (quint32 k = 0; k < track.chunkFrames[c]; ++k)
                    end += track.sizes[frame++];
                if (end > size || end < track.chunkOffsets[c])
                    __builtin_trap();
            }
        } catch (const std::runtime_error&) {
        }
    return 0;
}
