#include "TaggedBooks.h"

#include "TestCore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kPython = u"/usr/bin/python3"_s;
} // namespace

const QString kLongDescription =
    u"A long description of the book, which runs on past the 255 characters that "
    "the short description of an MP4 file holds, so that a tagger keeps it "
    "apart as the long description. It tells of a voyage, a storm, a "
    "shipwreck, an island and the years spent on it before a ship came."_s;

Covers makeCovers(const QString& folder)
{
    const Covers covers{folder + u"/front.jpg"_s, folder + u"/back.png"_s};
    QImage front(120, 90, QImage::Format_RGB32);
    front.fill(Qt::darkRed);
    QImage back(40, 40, QImage::Format_RGB32);
    back.fill(Qt::darkGreen);
    if (!front.save(covers.front, "JPEG") || !back.save(covers.back, "PNG"))
        return {};
    return covers;
}

bool python(const QString& script, const QStringList& arguments)
{
    return runTool(kPython, QStringList{u"-c"_s, script} << arguments);
}

bool makeTaggedBook(const QString& path, Tagger tagger, const Covers& covers)
{
    const bool mp3 = path.endsWith(u".mp3"_s);
    const QString metadata = QFileInfo(path).absolutePath() + u"/book.ffmetadata"_s;
    QByteArray text = ";FFMETADATA1\n";
    const char* titles[] = {"Landfall", "The Storm", "Rescue"};
    for (int i = 0; i < 3; ++i)
        text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + QByteArray::number(i * 4000) +
                "\nEND=" + QByteArray::number(i * 4000 + 4000) + "\ntitle=" + titles[i] + "\n";
    QStringList arguments{u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=f=330:d=12"_s, u"-i"_s, metadata};
    QStringList maps{u"-map"_s, u"0:a"_s, u"-map_metadata"_s, u"1"_s, u"-map_chapters"_s, u"1"_s};
    if (tagger == Tagger::Ffmpeg) {
        arguments << u"-i"_s << covers.front;
        maps << u"-map"_s << u"2:v"_s << u"-c:v"_s << u"copy"_s << u"-disposition:v"_s
             << u"attached_pic"_s;
        for (const auto& [key, value] : {std::pair{u"title"_s, u"Tagged Book"_s},
                                         {u"artist"_s, u"The Author"_s},
                                         {u"album"_s, u"The Album"_s},
                                         {u"composer"_s, u"The Narrator"_s},
                                         {u"date"_s, u"2004"_s},
                                         {u"grouping"_s, u"The Series #3"_s},
                                         {u"comment"_s, u"A comment"_s},
                                         {u"description"_s, kLongDescription},
                                         {u"album-sort"_s, u"Album, The"_s}})
            maps << u"-metadata"_s << key + u'=' + value;
    }
    maps << u"-c:a"_s << (mp3 ? u"libmp3lame"_s : u"aac"_s) << u"-b:a"_s << u"64k"_s;
    if (mp3)
        maps << u"-id3v2_version"_s << u"3"_s;
    if (!writeFile(metadata, text) || !runFfmpeg(arguments << maps << path))
        return false;
    switch (tagger) {
    case Tagger::Ffmpeg:
        return true;
    case Tagger::AtomicParsley:
        return runTool(u"AtomicParsley"_s, {path,
                                            u"--title"_s,
                                            u"Tagged Book"_s,
                                            u"--artist"_s,
                                            u"The Author"_s,
                                            u"--album"_s,
                                            u"The Album"_s,
                                            u"--composer"_s,
                                            u"The Narrator"_s,
                                            u"--year"_s,
                                            u"2004"_s,
                                            u"--grouping"_s,
                                            u"The Series #3"_s,
                                            u"--comment"_s,
                                            u"A comment"_s,
                                            u"--description"_s,
                                            kLongDescription.left(255),
                                            u"--longdesc"_s,
                                            kLongDescription,
                                            u"--stik"_s,
                                            u"Audiobook"_s,
                                            u"--rDNSatom"_s,
                                            u"B00ASIN123"_s,
                                            u"name=ASIN"_s,
                                            u"domain=com.apple.iTunes"_s,
                                            u"--artwork"_s,
                                            covers.front,
                                            u"--artwork"_s,
                                            covers.back,
                                            u"--sortOrder"_s,
                                            u"album"_s,
                                            u"Album, The"_s,
                                            u"--advisory"_s,
                                            u"clean"_s,
                                            u"--purchaseDate"_s,
                                            u"2020-01-01T00:00:00Z"_s,
                                            u"--overWrite"_s});
    case Tagger::Mutagen:
        if (mp3)
            return python(uR"(
import sys
from mutagen.id3 import ID3, APIC, COMM, MVIN, MVNM, PRIV, TALB, TCOM, TDRC, TIT2, TPE1, TSOA, TXXX, USLT
tag = ID3(sys.argv[1])
front = open(sys.argv[2], 'rb').read()
back = open(sys.argv[3], 'rb').read()
tag.add(TIT2(encoding=3, text=['Tagged Book']))
tag.add(TPE1(encoding=3, text=['The Author']))
tag.add(TALB(encoding=3, text=['The Album']))
tag.add(TCOM(encoding=3, text=['The Narrator']))
tag.add(TDRC(encoding=3, text=['2004']))
tag.add(MVNM(encoding=3, text=['The Series']))
tag.add(MVIN(encoding=3, text=['3']))
tag.add(TXXX(encoding=3, desc='DESCRIPTION', text=[sys.argv[4]]))
tag.add(COMM(encoding=3, lang='eng', desc='', text=['A comment']))
tag.add(COMM(encoding=3, lang='eng', desc='iTunNORM', text=[' 00000200 00000200']))
tag.add(TXXX(encoding=3, desc='ASIN', text=['B00ASIN123']))
tag.add(TSOA(encoding=3, text=['Album, The']))
tag.add(USLT(encoding=3, lang='eng', desc='', text='Words of the book'))
tag.add(PRIV(owner='org.example.shop', data=b'\x00\x01\x02'))
tag.add(APIC(encoding=3, mime='image/png', type=4, desc='Back of the box', data=back))
tag.add(APIC(encoding=3, mime='image/jpeg', type=3, desc='Front of the box', data=front))
tag.save(v2_version=4)
)"_s,
                          {path, covers.front, covers.back, kLongDescription});
        return python(uR"(
import sys
from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm
book = MP4(sys.argv[1])
book['\xa9nam'] = ['Tagged Book']
book['\xa9ART'] = ['The Author']
book['\xa9alb'] = ['The Album']
book['\xa9wrt'] = ['The Narrator']
book['\xa9day'] = ['2004']
book['\xa9grp'] = ['The Series #3']
book['\xa9cmt'] = ['A comment']
book['desc'] = [sys.argv[4][:255]]
book['ldes'] = [sys.argv[4]]
book['stik'] = [2]
book['soal'] = ['Album, The']
book['----:com.apple.iTunes:ASIN'] = [MP4FreeForm(b'B00ASIN123')]
book['covr'] = [MP4Cover(open(sys.argv[2], 'rb').read(), MP4Cover.FORMAT_JPEG),
                MP4Cover(open(sys.argv[3], 'rb').read(), MP4Cover.FORMAT_PNG)]
book.save()
)"_s,
                      {path, covers.front, covers.back, kLongDescription});
    case Tagger::TagLib: {
        TagLib::MP4::File file(QFile::encodeName(path).constData());
        TagLib::MP4::Tag* tag = file.tag();
        if (!tag)
            return false;
        const auto set = [tag](const char* key, const QString& value) {
            tag->setItem(
                key, TagLib::StringList(TagLib::String(value.toStdString(), TagLib::String::UTF8)));
        };
        set("\251nam", u"Tagged Book"_s);
        set("\251ART", u"The Author"_s);
        set("\251alb", u"The Album"_s);
        set("\251wrt", u"The Narrator"_s);
        set("\251day", u"2004"_s);
        set("\251grp", u"The Series #3"_s);
        set("\251cmt", u"A comment"_s);
        set("desc", kLongDescription.left(255));
        set("ldes", kLongDescription);
        set("soal", u"Album, The"_s);
        set("----:com.apple.iTunes:ASIN", u"B00ASIN123"_s);
        TagLib::MP4::CoverArtList art;
        for (const auto& [image, format] : {std::pair{covers.front, TagLib::MP4::CoverArt::JPEG},
                                            {covers.back, TagLib::MP4::CoverArt::PNG}}) {
            const QByteArray bytes = readFile(image);
            art.append(TagLib::MP4::CoverArt(
                format,
                TagLib::ByteVector(bytes.constData(), static_cast<unsigned>(bytes.size()))));
        }
        tag->setItem("covr", TagLib::MP4::Item(art));
        return file.save();
    }
    }
    return false;
}

QStringList tagsRead(const QString& path)
{
    QStringList lines;
    if (!path.endsWith(u".mp3"_s)) {
        for (const QString& line :
             QString::fromUtf8(toolOutput(u"AtomicParsley"_s, {path, u"-t"_s}).value_or("?"))
                 .split(u'\n', Qt::SkipEmptyParts))
            lines << u"AtomicParsley "_s + line.trimmed().remove(QChar(0xFEFF));
    }
    const QJsonObject probed = probe(path);
    const QJsonObject tags = probed[u"format"_s][u"tags"_s].toObject();
    for (auto it = tags.begin(); it != tags.end(); ++it)
        lines << u"ffprobe %1=%2"_s.arg(it.key(), it.value().toString());
    for (const QJsonValue chapter : probed[u"chapters"_s].toArray())
        lines << u"ffprobe chapter %1 %2"_s.arg(chapter[u"start_time"_s].toString(),
                                                chapter[u"tags"_s][u"title"_s].toString());
    static const QSet<QString> layout{u"System"_s, u"File"_s, u"ExifTool"_s, u"Composite"_s};
    for (const QString& line :
         QString::fromUtf8(toolOutput(u"exiftool"_s,
                                      {u"-q"_s, u"-q"_s, u"-a"_s, u"-G1"_s, u"-s"_s, u"-n"_s, path})
                               .value_or("?"))
             .split(u'\n', Qt::SkipEmptyParts)) {
        const QString group = line.section(u']', 0, 0).mid(1).trimmed();
        const QString name = line.section(u']', 1).section(u':', 0, 0).trimmed();
        if (!layout.contains(group) && !name.contains(u"Offset"_s) && name != u"Warning"_s &&
            name != u"ID3Size"_s)
            lines << u"exiftool "_s + line.simplified();
    }
    for (const char* picture : {"-CoverArt", "-Picture"}) {
        const QByteArray bytes = toolOutput(u"exiftool"_s, {u"-q"_s, u"-q"_s, u"-a"_s, u"-b"_s,
                                                            QString::fromLatin1(picture), path})
                                     .value_or(QByteArray());
        if (!bytes.isEmpty())
            lines << u"pictures %1 %2"_s.arg(
                QString::fromLatin1(picture),
                QString::fromLatin1(
                    QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
    }
    lines.sort();
    return lines;
}
