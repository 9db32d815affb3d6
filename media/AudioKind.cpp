#include "AudioKind.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace AudioKind {

namespace {

// The containers that ffmpeg reads and that are not MPEG audio, by the
// bytes they start with.
bool startsLikeOtherAudio(const QByteArray& head)
{
    static const QByteArray asf = QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
    return head.mid(4, 4) == "ftyp" || head.startsWith("fLaC") || head.startsWith("OggS") ||
           (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE") || head.startsWith("RF64") ||
           head.startsWith(asf);
}

// An ID3v2 tag, or an MPEG audio frame's sync.
bool startsLikeMp3(const QByteArray& head)
{
    return head.startsWith("ID3") ||
           (head.size() >= 2 && static_cast<quint8>(head[0]) == 0xFF &&
            (static_cast<quint8>(head[1]) & 0xE0) == 0xE0);
}

} // namespace

const QStringList& otherExtensions()
{
    static const QStringList extensions{u"m4a"_s, u"m4b"_s,  u"aac"_s, u"flac"_s, u"ogg"_s,
                                        u"oga"_s, u"opus"_s, u"wav"_s, u"wma"_s};
    return extensions;
}

Kind of(const QString& path)
{
    QStringView name(path);
    while (name.size() > 1 && name.endsWith(u'/'))
        name.chop(1);
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toString().toLower();
    if (extension == u"mp3"_s)
        return Kind::Mp3;
    if (otherExtensions().contains(extension))
        return Kind::Other;
    const bool namedMp3 = name.contains(u"mp3"_s, Qt::CaseInsensitive);
    // Another extension says what the file is, unless its name says MP3.
    if (dot > 0 && !namedMp3)
        return Kind::None;
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(16) : QByteArray();
    if (startsLikeOtherAudio(head))
        return Kind::Other;
    return namedMp3 || startsLikeMp3(head) ? Kind::Mp3 : Kind::None;
}

} // namespace AudioKind
