#include "AudioKind.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace AudioKind {

namespace {

// The containers that ffmpeg reads and that are not MPEG audio, by the
// bytes they start with.
bool startsLikeOtherAudio(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(16);
    static const QByteArray asf = QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
    return head.mid(4, 4) == "ftyp" || head.startsWith("fLaC") || head.startsWith("OggS") ||
           (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE") || head.startsWith("RF64") ||
           head.startsWith(asf);
}

} // namespace

const QStringList& otherExtensions()
{
    static const QStringList extensions{u"m4a"_s, u"m4b"_s,  u"aac"_s, u"flac"_s, u"ogg"_s,
                                        u"oga"_s, u"opus"_s, u"wav"_s, u"wma"_s};
    return extensions;
}

bool hasOtherExtension(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || path.indexOf(u'/', dot) >= 0)
        return false;
    return otherExtensions().contains(path.mid(dot + 1).toLower());
}

bool isOther(const QString& path)
{
    if (hasOtherExtension(path))
        return true;
    if (QFileInfo(path).suffix().compare(u"mp3"_s, Qt::CaseInsensitive) == 0)
        return false;
    return startsLikeOtherAudio(path);
}

} // namespace AudioKind
