#include "ItemRecord.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr quint32 kMagic = 0x46574953; // "FWIS"

void writeOptional(QDataStream& out, const std::optional<QString>& value)
{
    out << value.has_value() << value.value_or(QString());
}

std::optional<QString> readOptional(QDataStream& in)
{
    bool present = false;
    QString value;
    in >> present >> value;
    return present ? std::optional<QString>(value) : std::nullopt;
}
QDataStream& operator<<(QDataStream& out, const SourceTags& t)
{
    return out << t.title << t.artist << t.album << t.albumArtist << t.composer << t.year
               << t.comment << t.description << t.series << t.seriesPart
               << t.track.value_or(-1) << t.disc.value_or(-1) << t.hasCover;
}

QDataStream& operator>>(QDataStream& in, SourceTags& t)
{
    int track = -1;
    int disc = -1;
    in >> t.title >> t.artist >> t.album >> t.albumArtist >> t.composer >> t.year >> t.comment >>
        t.description >> t.series >> t.seriesPart >> track >> disc >> t.hasCover;
    t.track = track >= 0 ? std::optional(track) : std::nullopt;
    t.disc = disc >= 0 ? std::optional(disc) : std::nullopt;
    return in;
}

} // namespace

double ItemRecord::Exact::seconds() const
{
    return sampleRate > 0 ? static_cast<double>(samples) / sampleRate : 0.0;
}

double ItemRecord::Exact::leadInSeconds() const
{
    return sampleRate > 0 ? static_cast<double>(leadIn) / sampleRate : 0.0;
}

// "/Books/Tale/01 Intro.mp3" gives "01 Intro"; a leading dot starts no extension.
QString ItemRecord::titleForPath(const QString& path)
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(u'/'))
        name.chop(1);
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QString ItemRecord::cutShortProblem(double present, double promised)
{
    return u"ends at %1 of %2: it was cut short, perhaps by a download that did not finish"_s
        .arg(formatLength(present), formatLength(promised));
}

QString ItemRecord::formatLength(double seconds)
{
    const auto total = static_cast<qint64>(std::llround(std::max(0.0, seconds)));
    const qint64 hours = total / 3600;
    const QString minutesAndSeconds =
        u"%1:%2"_s.arg(hours > 0 ? QString::asprintf("%02lld", (total / 60) % 60)
                                  : QString::number(total / 60))
            .arg(total % 60, 2, 10, QLatin1Char(u'0'));
    return hours > 0 ? QString::number(hours) + u':' + minutesAndSeconds : minutesAndSeconds;
}

QVariant ItemRecord::valueForKey(QStringView key) const
{
    if (key == u"pathColumn")
        return pathColumn;
    if (key == u"titleColumn")
        return titleColumn;
    if (key == u"iconColumn")
        return iconColumn;
    if (key == u"bitrateColumn")
        return bitrateColumn;
    if (key == u"sampleFrequencyColumn")
        return sampleFrequencyColumn;
    if (key == u"lengthColumn") {
        if (!lengthRead)
            return QString();
        return lengthColumn ? formatLength(*lengthColumn) : u"\u2014"_s;
    }
    if (key == u"loudnessColumn") {
        if (!loudness)
            return QString();
        return std::isfinite(*loudness) ? u"%1 LUFS"_s.arg(*loudness, 0, 'f', 1) : u"silent"_s;
    }
    auto optional = [](const std::optional<QString>& v) { return v ? QVariant(*v) : QVariant(); };
    if (key == u"symbolicPath")
        return optional(symbolicPath);
    if (key == u"mins")
        return optional(mins);
    if (key == u"secs")
        return optional(secs);
    if (key == u"problem")
        return problem.isEmpty() ? QVariant() : QVariant(problem);
    if (key == u"continuesChapter")
        return continuesChapter();
    if (key == u"chapterNote")
        return chapterNote.isEmpty() ? QVariant() : QVariant(chapterNote);
    return {};
}

QList<ChapterMark> ItemRecord::chapterStarts() const
{
    if (editedChapters)
        return *editedChapters;
    if (innerChapters.isEmpty())
        return {ChapterMark{}};
    // The file's first chapter starts where the file does.
    QList<ChapterMark> starts = innerChapters;
    starts.first().start = 0;
    return starts;
}

bool ItemRecord::continuesChapter() const
{
    const QList<ChapterMark> starts = chapterStarts();
    return starts.isEmpty() || starts.first().start > 0;
}

QList<ItemRecord::InnerChapter> ItemRecord::chaptersFromMarks(const ChapterMarks& marks,
                                                              std::optional<double> length,
                                                              QString& note)
{
    QList<InnerChapter> kept;
    qsizetype dropped = 0;
    for (const ChapterMark& mark : marks) {
        const bool inside = mark.start >= 0 && (!length || mark.start < *length);
        if (!inside || (!kept.isEmpty() && mark.start <= kept.last().start)) {
            ++dropped;
            continue;
        }
        kept.append(mark);
    }
    if (kept.size() < 2)
        kept.clear();
    note.clear();
    if (!kept.isEmpty())
        note = u"%1 chapters of its own"_s.arg(kept.size());
    if (dropped > 0)
        note += (note.isEmpty() ? QString() : u"; "_s) +
                (dropped == 1 ? u"1 chapter mark was dropped: it lies"_s
                              : u"%1 chapter marks were dropped: they lie"_s.arg(dropped)) +
                u" past the file's end, or not after the mark before"_s;
    if (!note.isEmpty())
        note += u'.';
    return kept;
}

QByteArray ItemRecord::serialized() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kMagic << pathColumn << titleColumn << iconColumn << bitrateColumn
        << sampleFrequencyColumn;
    writeOptional(out, symbolicPath);
    writeOptional(out, mins);
    writeOptional(out, secs);
    const Exact measured = exact.value_or(Exact{});
    out << problem << exact.has_value() << measured.samples << measured.leadIn
        << measured.sampleRate << measured.joinedSamples << measured.joinedLeadIn << lengthRead
        << lengthColumn.has_value() << lengthColumn.value_or(0) << tags;
    const auto writeMarks = [&out](const QList<ChapterMark>& marks) {
        out << static_cast<qint64>(marks.size());
        for (const ChapterMark& mark : marks)
            out << mark.start << mark.title;
    };
    writeMarks(innerChapters);
    out << editedChapters.has_value();
    writeMarks(editedChapters.value_or(QList<ChapterMark>()));
    writeMarks(proposals);
    out << copyableAac.has_value() << copyableAac.value_or(CopyableAac{}).audioConfig
        << copyableAac.value_or(CopyableAac{}).channels;
    return bytes;
}

std::optional<ItemRecord> ItemRecord::deserialized(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint32 magic = 0;
    in >> magic;
    if (magic != kMagic)
        return std::nullopt;
    ItemRecord record;
    in >> record.pathColumn >> record.titleColumn >> record.iconColumn >> record.bitrateColumn >>
        record.sampleFrequencyColumn;
    record.symbolicPath = readOptional(in);
    record.mins = readOptional(in);
    record.secs = readOptional(in);
    bool measured = false;
    Exact exact;
    bool listed = false;
    double listedLength = 0;
    in >> record.problem >> measured >> exact.samples >> exact.leadIn >> exact.sampleRate >>
        exact.joinedSamples >> exact.joinedLeadIn >> record.lengthRead >> listed >> listedLength >>
        record.tags;
    const auto readMarks = [&in] {
        QList<ChapterMark> marks;
        qint64 count = 0;
        in >> count;
        for (qint64 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            ChapterMark mark;
            in >> mark.start >> mark.title;
            marks.append(mark);
        }
        return marks;
    };
    record.innerChapters = readMarks();
    bool edited = false;
    in >> edited;
    QList<ChapterMark> editedMarks = readMarks();
    if (edited)
        record.editedChapters = std::move(editedMarks);
    record.proposals = readMarks();
    bool copyable = false;
    CopyableAac aac;
    in >> copyable >> aac.audioConfig >> aac.channels;
    if (copyable)
        record.copyableAac = aac;
    if (measured)
        record.exact = exact;
    if (listed)
        record.lengthColumn = listedLength;
    if (in.status() != QDataStream::Ok)
        return std::nullopt;
    return record;
}
