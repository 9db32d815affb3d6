#include "BookInfo.h"

#include "AudioKind.h"
#include "AudioProbe.h"
#include "BookSaver.h"
#include "DraftBook.h"
#include "SourceTags.h"
#include "TagFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <cmath>
#include <taglib/tpropertymap.h>

using namespace Qt::Literals::StringLiterals;

namespace BookInfo {

namespace {

QString fromTagLib(const TagLib::String& text)
{
    return QString::fromStdWString(text.toWString());
}

// Every tag by TagLib's names, one value or a list of them.
QJsonObject allTags(const QString& path)
{
    QJsonObject all;
    const TagLib::FileRef file = TagFile::open(path);
    if (file.isNull() || !file.file())
        return all;
    const TagLib::PropertyMap properties = file.file()->properties();
    for (const auto& [key, values] : properties) {
        QJsonArray list;
        for (const TagLib::String& value : values)
            list.append(fromTagLib(value));
        all.insert(fromTagLib(key), list.size() == 1 ? list.first() : QJsonValue(list));
    }
    return all;
}

// The cover that opening the book took into its tags; the file is read
// again only for one that did not decode, which the tags leave out.
QJsonValue cover(const ItemRecord& record, const BookTag& tags)
{
    const SourceTags::Picture picture =
        !tags.cover.isEmpty()  ? SourceTags::Picture{tags.cover, tags.coverMimeType}
        : record.tags.hasCover ? SourceTags::cover(record.pathColumn)
                               : SourceTags::Picture{};
    if (picture.data.isEmpty())
        return QJsonValue::Null;
    QBuffer buffer;
    buffer.setData(picture.data);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    QJsonObject object{{u"mimeType"_s, picture.mimeType},
                       {u"bytes"_s, static_cast<qint64>(picture.data.size())}};
    if (size.isValid()) {
        object.insert(u"width"_s, size.width());
        object.insert(u"height"_s, size.height());
    }
    return object;
}

QString formatOf(const QString& path)
{
    if (AudioKind::of(path) == AudioKind::Kind::Mp3)
        return u"mp3"_s;
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"m4b"_s || suffix == u"m4a"_s ? suffix : u"other"_s;
}

} // namespace

QString time(double seconds)
{
    const auto ms = static_cast<qint64>(std::llround(std::max(0.0, seconds) * 1000.0));
    return u"%1:%2:%3.%4"_s.arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QJsonArray chapters(const DraftBook& draft, bool proposed)
{
    QJsonArray list;
    const QList<ChapterRow>& rows = draft.chapters();
    const double length = draft.length();
    QList<const ChapterRow*> kept;
    for (const ChapterRow& row : rows) {
        if (!row.proposed || proposed)
            kept.append(&row);
    }
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const ChapterRow& row = *kept.at(i);
        const double end = i + 1 < kept.size() ? kept.at(i + 1)->start : length;
        list.append(QJsonObject{{u"number"_s, static_cast<int>(i + 1)},
                                {u"start"_s, std::round(row.start * 1000.0) / 1000.0},
                                {u"length"_s, std::round((end - row.start) * 1000.0) / 1000.0},
                                {u"title"_s, row.title},
                                {u"proposed"_s, row.proposed}});
    }
    return list;
}

QJsonObject of(const DraftBook& draft)
{
    const ItemRecord& record = *draft.files().first();
    const QString& path = record.pathColumn;
    const AudioProbe probe = AudioProbe::probe(path);
    const BookTag& tags = draft.tags();
    QJsonObject fields;
    const std::pair<const char16_t*, const QString*> named[] = {
        {u"title", &tags.title},
        {u"artist", &tags.artist},
        {u"album", &tags.album},
        {u"albumArtist", &tags.albumArtist},
        {u"narrator", &tags.narrator},
        {u"year", &tags.year},
        {u"comment", &tags.comment},
        {u"series", &tags.series},
        {u"seriesNumber", &tags.seriesNumber},
        {u"description", &tags.description},
    };
    for (const auto& [name, value] : named) {
        if (!value->isEmpty())
            fields.insert(QString::fromUtf16(name), *value);
    }
    const QString problem = BookSaver::problemWith(path);
    return {
        {u"book"_s, path},
        {u"format"_s, formatOf(path)},
        {u"length"_s, std::round(draft.length() * 1000.0) / 1000.0},
        {u"audio"_s, QJsonObject{{u"codec"_s, probe.codec},
                                 {u"sampleRate"_s, probe.sampleRate},
                                 {u"channels"_s, probe.channels},
                                 {u"bitRate"_s, probe.bitRate}}},
        {u"tags"_s, fields},
        {u"allTags"_s, allTags(path)},
        {u"cover"_s, cover(record, tags)},
        {u"chapters"_s, chapters(draft, false)},
        {u"writable"_s, problem.isEmpty()},
        {u"problem"_s, problem},
    };
}

QString chapterLines(const QJsonArray& chapters)
{
    QString text;
    for (const QJsonValue value : chapters) {
        const QJsonObject chapter = value.toObject();
        text += u"  %1  %2  %3  %4%5\n"_s.arg(chapter[u"number"_s].toInt(), 3)
                    .arg(time(chapter[u"start"_s].toDouble()),
                         time(chapter[u"length"_s].toDouble()), chapter[u"title"_s].toString(),
                         chapter[u"proposed"_s].toBool() ? u" (proposed)"_s : QString());
    }
    return text;
}

QString text(const QJsonObject& info)
{
    const QJsonObject audio = info[u"audio"_s].toObject();
    const int channels = audio[u"channels"_s].toInt();
    QString text = u"Book:      %1\nFormat:    %2\nLength:    %3\n"_s.arg(
        info[u"book"_s].toString(), info[u"format"_s].toString(),
        time(info[u"length"_s].toDouble()));
    text += u"Audio:     %1, %2 Hz, %3, %4 kb/s\n"_s.arg(audio[u"codec"_s].toString())
                .arg(audio[u"sampleRate"_s].toInt())
                .arg(channels == 1   ? u"mono"_s
                     : channels == 2 ? u"stereo"_s
                                     : u"%1 channels"_s.arg(channels))
                .arg(std::llround(audio[u"bitRate"_s].toDouble() / 1000.0));
    const QJsonObject cover = info[u"cover"_s].toObject();
    text += cover.isEmpty() ? u"Cover:     none\n"_s
                            : u"Cover:     %1, %2 \u00d7 %3 pixels, %4 bytes\n"_s
                                  .arg(cover[u"mimeType"_s].toString())
                                  .arg(cover[u"width"_s].toInt())
                                  .arg(cover[u"height"_s].toInt())
                                  .arg(cover[u"bytes"_s].toInteger());
    text += info[u"writable"_s].toBool()
                ? u"Writable:  yes\n"_s
                : u"Writable:  no: %1\n"_s.arg(info[u"problem"_s].toString());
    text += u"Tags:\n"_s;
    const QJsonObject all = info[u"allTags"_s].toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        QString value = it->isArray() ? QString() : it->toString();
        if (it->isArray()) {
            QStringList values;
            for (const QJsonValue each : it->toArray())
                values << each.toString();
            value = values.join(u"; "_s);
        }
        text += u"  %1: %2\n"_s.arg(it.key(), value.simplified());
    }
    const QJsonArray chapters = info[u"chapters"_s].toArray();
    text += u"Chapters:  %1\n"_s.arg(chapters.size()) + chapterLines(chapters);
    return text;
}

} // namespace BookInfo
