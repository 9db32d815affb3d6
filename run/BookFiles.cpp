#include "BookFiles.h"

#include "AudioKind.h"
#include "AudioProbe.h"
#include "ChapterFile.h"
#include "ChapterList.h"
#include "CueSheet.h"
#include "DecodedLength.h"
#include "Mp3Frames.h"
#include "Mp3Helper.h"
#include "Mp4AudioTrack.h"
#include "Mp4Box.h"
#include "Mp4Chapters.h"
#include "Mp4File.h"
#include "NaturalOrder.h"
#include "RunChecks.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <tuple>

using namespace Qt::Literals::StringLiterals;

namespace BookFiles {

QStringList audioFilesIn(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (AudioKind::isListed(path))
            files << path;
    }
    std::sort(files.begin(), files.end(),
              [](const QString& a, const QString& b) { return NaturalOrder::less(a, b); });
    return files;
}

namespace {
// The file's AAC audio when a book could take its frames as they are. A
// track whose frames are not all in the file was cut short: that is the
// file's problem, which its length alone would hide.
std::optional<ItemRecord::CopyableAac> copyableAac(const QString& path, QString& problem)
{
    try {
        const Mp4AudioTrack track = Mp4AudioTrack::read(path);
        return ItemRecord::CopyableAac{.audioConfig = track.audioConfig,
                                       .channels = track.channels};
    } catch (const Mp4AudioTrack::CutShort& e) {
        const double rate = e.sampleRate;
        if (problem.isEmpty() && rate > 0)
            problem = ItemRecord::cutShortProblem(static_cast<double>(e.presentSamples) / rate,
                                                  static_cast<double>(e.promisedSamples) / rate);
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
} // namespace

// An MP4 file whose AAC track and chapters our own readers take needs no
// ffprobe: a list of a thousand such files would start a thousand.
std::optional<Details> ownMp4Details(const QString& path, ChapterMarks& marks)
{
    if (!AudioKind::isOther(path) || !Mp4Box::startsMp4File(path))
        return std::nullopt;
    try {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        // One read of the header, which in a long book is megabytes of tables.
        const QByteArray moov = Mp4File::movieHeader(file.handle(), file.size());
        const Mp4AudioTrack track = Mp4AudioTrack::fromHeader(moov, file.size());
        marks = Mp4Chapters::read(file, moov);
        const double seconds = static_cast<double>(track.playedSamples()) / track.sampleRate;
        if (seconds <= 0)
            return std::nullopt;
        qint64 bitRate = track.averageBitRate;
        if (bitRate <= 0)
            bitRate = std::llround(
                8.0 * std::accumulate(track.sizes.begin(), track.sizes.end(), quint64{0}) /
                seconds);
        Details details;
        details.aac =
            ItemRecord::CopyableAac{.audioConfig = track.audioConfig, .channels = track.channels};
        details.bitrate = QString::number(bitRate / 1000);
        details.frequency = QString::number(track.sampleRate);
        details.length = seconds;
        return details;
    } catch (const std::exception&) {
        // Damaged, or more than our readers take: ffprobe says what it is.
        return std::nullopt;
    }
}

Details readDetails(const QString& path)
{
    Details details;
    ChapterMarks marks;
    if (auto own = ownMp4Details(path, marks)) {
        details = *std::move(own);
        details.tags = SourceTags::read(path);
    } else if (AudioKind::isOther(path)) {
        const AudioProbe probe = AudioProbe::probe(path);
        const bool decodes = probe.problem.isEmpty();
        details.problem = probe.problem;
        details.aac = probe.codec == u"aac"_s ? copyableAac(path, details.problem) : std::nullopt;
        details.bitrate = probe.bitRate > 0 ? QString::number(probe.bitRate / 1000) : QString();
        details.frequency = decodes ? QString::number(probe.sampleRate) : QString();
        details.length = decodes && probe.seconds > 0 ? std::optional(probe.seconds) : std::nullopt;
        details.tags = SourceTags::read(path);
        marks = probe.chapters;
    } else {
        // One run of the tool for both: a list of a thousand files starts a thousand.
        const Mp3Helper::Rates rates = Mp3Helper::getRatesOfMP3(path);
        details.bitrate = rates.bitrate;
        details.frequency = rates.sampleFrequency;
        details.problem = RunChecks::problemText(Mp3Frames::check(path));
        details.tags = SourceTags::read(path);
        if (const auto frames = Mp3Frames::measure(path);
            frames && DecodedLength::alone(*frames) > 0)
            details.length =
                static_cast<double>(DecodedLength::alone(*frames)) / frames->sampleRate;
        marks = details.tags.marks;
    }
    // A file's own marks first; a CUE sheet beside it where it has none.
    if (marks.size() < 2)
        marks = CueSheet::marksBeside(path);
    details.chapters = ItemRecord::chaptersFromMarks(marks, details.length, details.chapterNote);
    return details;
}

void apply(const Details& details, ItemRecord& record)
{
    record.bitrateColumn = details.bitrate;
    record.sampleFrequencyColumn = details.frequency;
    // A check of the files at the start of a run may have come first.
    if (record.problem.isEmpty())
        record.problem = details.problem;
    record.lengthColumn = details.length;
    record.tags = details.tags;
    record.innerChapters = details.chapters;
    record.chapterNote = details.chapterNote;
    record.copyableAac = details.aac;
    record.lengthRead = true;
}

ItemRecordPtr recordOf(const QString& path)
{
    auto record = std::make_shared<ItemRecord>();
    record->pathColumn = path;
    record->titleColumn = ItemRecord::titleForPath(path);
    apply(readDetails(path), *record);
    return record;
}

bool byTrack(const ItemRecordPtr& a, const ItemRecordPtr& b)
{
    const auto key = [](const ItemRecord& r) {
        const bool numbered = r.tags.track || r.tags.disc;
        return std::tuple(numbered ? 0 : 1, r.tags.disc.value_or(0), r.tags.track.value_or(0));
    };
    const auto ka = key(*a);
    const auto kb = key(*b);
    if (ka != kb)
        return ka < kb;
    return NaturalOrder::less(a->pathColumn, b->pathColumn);
}

namespace {
// The value that every file which has one gives; empty when they differ.
QString agreed(const ItemList& records, const std::function<QString(const SourceTags&)>& field)
{
    QString value;
    for (const ItemRecordPtr& record : records) {
        const QString v = field(record->tags);
        if (v.isEmpty())
            continue;
        if (!value.isEmpty() && v != value)
            return {};
        value = v;
    }
    return value;
}

// A cover beside the file, by the names that rippers and shops give it.
QImage coverBeside(const QString& path)
{
    const QDir folder = QFileInfo(path).dir();
    const QStringList names = folder.entryList(QDir::Files);
    for (const char* wanted : {"cover.jpg", "cover.png", "folder.jpg", "front.jpg"}) {
        for (const QString& name : names) {
            if (name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0) {
                QImage image(folder.filePath(name));
                if (!image.isNull())
                    return image;
            }
        }
    }
    return {};
}
} // namespace

BookTag agreedTags(const ItemList& records)
{
    BookTag tag;
    tag.title = agreed(records, [](const SourceTags& t) { return t.album; });
    tag.album = tag.title;
    const QString author = agreed(records, [](const SourceTags& t) { return t.artist; });
    tag.albumArtist = agreed(records, [](const SourceTags& t) { return t.albumArtist; });
    tag.artist = author.isEmpty() ? tag.albumArtist : author;
    tag.narrator = agreed(records, [](const SourceTags& t) { return t.composer; });
    tag.year = agreed(records, [](const SourceTags& t) { return t.year; });
    tag.series = agreed(records, [](const SourceTags& t) { return t.series; });
    tag.seriesNumber = agreed(records, [](const SourceTags& t) { return t.seriesPart; });
    tag.description = agreed(records, [](const SourceTags& t) { return t.description; });
    return tag;
}

QImage agreedCover(const ItemList& records)
{
    if (records.isEmpty())
        return {};
    for (const ItemRecordPtr& record : records) {
        if (!record->tags.hasCover)
            continue;
        QImage image = QImage::fromData(SourceTags::cover(record->pathColumn).data);
        if (!image.isNull())
            return image;
    }
    return coverBeside(records.first()->pathColumn);
}

QByteArray coverJpeg(const QImage& image)
{
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    flat.save(&buffer, "JPG", 90);
    return bytes;
}

ChapterMarks readChapterFile(const QString& path, const ItemList& records, QString& problem)
{
    // No chapter file of a real book comes near this.
    constexpr qint64 kLargestChapterFile = 4 << 20;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestChapterFile) {
        problem = file.error() == QFileDevice::NoError
                      ? u"It is too large to be a chapter file."_s
                      : u"It cannot be read: %1."_s.arg(file.errorString());
        return {};
    }
    const QByteArray bytes = file.readAll();
    const ChapterMarks chapters = ChapterFile::read(bytes, ChapterFile::kindOf(path, bytes));
    double total = 0;
    for (const ItemRecordPtr& record : records)
        total += record->lengthColumn.value_or(0);
    problem = ChapterFile::problemWith(chapters, total);
    if (chapters.isEmpty())
        problem = u"It holds no chapter times that Fablewick reads: lines such as "
                  "\u201C00:04:19.153 Title\u201D, ffmetadata's [CHAPTER] blocks, or a CUE "
                  "sheet's INDEX 01 lines."_s;
    return problem.isEmpty() ? chapters : ChapterMarks{};
}

QList<QList<ChapterMark>> placeChapters(const ItemList& records, const ChapterMarks& chapters)
{
    QList<double> lengths;
    for (const ItemRecordPtr& record : records)
        lengths << record->lengthColumn.value_or(0);
    QList<QList<ChapterMark>> placed(records.size());
    for (const ChapterMark& chapter : chapters) {
        if (const auto place = ChapterList::located(lengths, chapter.start))
            placed[place->first].append({place->second, chapter.title});
    }
    return placed;
}

} // namespace BookFiles
