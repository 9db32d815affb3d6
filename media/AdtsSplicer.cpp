#include "AdtsSplicer.h"

#include "AacFormat.h"
#include "AacTrackWriter.h"
#include "Mp4Box.h"

#include <QFile>
#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

// Read a megabyte at a time.
constexpr qint64 kChunkBytes = 1 << 20;

[[noreturn]] void fail(const std::string& why)
{
    throw std::runtime_error(why);
}

// Reads ADTS frames from a file a megabyte at a time.
class AdtsReader
{
public:
    explicit AdtsReader(const QString& path) : mFile(path)
    {
        if (!mFile.open(QIODevice::ReadOnly))
            fail("cannot read " + path.toStdString() + ": " + mFile.errorString().toStdString());
    }

    // The next frame's header and payload; false at the end of the stream.
    bool next(QByteArrayView& header, QByteArrayView& payload)
    {
        if (!fill(7))
            return false;
        const auto byte = [&](qsizetype i) {
            return static_cast<unsigned char>(mBuffer.at(mAt + i));
        };
        if (byte(0) != 0xFF || (byte(1) & 0xF6) != 0xF0)
            fail("it is not an AAC stream");
        const qsizetype headerSize = (byte(1) & 1) ? 7 : 9;
        const qsizetype length = ((byte(3) & 0x03) << 11) | (byte(4) << 3) | (byte(5) >> 5);
        if (length <= headerSize || !fill(length))
            fail("it ends inside a frame");
        header = QByteArrayView(mBuffer).sliced(mAt, headerSize);
        payload = QByteArrayView(mBuffer).sliced(mAt + headerSize, length - headerSize);
        mAt += length;
        return true;
    }

private:
    bool fill(qsizetype wanted)
    {
        if (mBuffer.size() - mAt >= wanted)
            return true;
        mBuffer.remove(0, mAt);
        mAt = 0;
        const QByteArray more = mFile.read(std::max<qint64>(kChunkBytes, wanted));
        mBuffer += more;
        if (mBuffer.size() >= wanted)
            return true;
        if (!mBuffer.isEmpty())
            fail("it ends inside a frame");
        return false;
    }

    QFile mFile;
    QByteArray mBuffer;
    qsizetype mAt = 0;
};

} // namespace

void AdtsSplicer::writeM4a(const QList<Part>& parts, const QString& output,
                           const std::function<bool()>& stopped)
{
    AacTrackWriter out(output);
    for (qsizetype k = 0; k < parts.size(); ++k) {
        const Part& part = parts.at(k);
        const std::string number = std::to_string(k + 1);
        AdtsReader in(part.path);
        QByteArrayView header;
        QByteArrayView payload;
        qint64 frame = 0;
        qint64 kept = 0;
        for (; (part.keptFrames < 0 || kept < part.keptFrames) && in.next(header, payload);
             ++frame) {
            if (frame < part.droppedFrames)
                continue;
            if (stopped && stopped())
                fail("stopped");
            if (!out.hasFormat()) {
                const auto byte = [&](int i) { return static_cast<unsigned char>(header.at(i)); };
                const int objectType = (byte(2) >> 6) + 1;
                const int rateIndex = (byte(2) >> 2) & 0x0F;
                const int channels = ((byte(2) & 1) << 2) | (byte(3) >> 6);
                const std::optional<int> rate = Aac::sampleRate(rateIndex);
                if (!rate)
                    fail("part " + number + " has no sample rate");
                QByteArray config;
                Mp4::append(config,
                            static_cast<quint64>((objectType << 11) | (rateIndex << 7) |
                                                 (channels << 3)),
                            2);
                out.setFormat(config, *rate, channels);
            }
            out.append(payload);
            ++kept;
        }
        if (part.keptFrames >= 0 && kept < part.keptFrames)
            fail("part " + number + " is shorter than planned");
    }
    if (out.frames() < 2)
        fail("the parts hold no audio");
    // The first frame kept is the encoder's priming.
    out.finish(Aac::kFrameSamples, 0);
}
