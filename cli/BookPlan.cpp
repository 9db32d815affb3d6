#include "BookPlan.h"

#include "Desktop.h"

#include "BookFiles.h"
#include "BookRun.h"
#include "ChapterList.h"
#include "DiskSpace.h"
#include "NaturalOrder.h"
#include "RunChecks.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QtConcurrent>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<BookFormat> formatOfPath(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"mp3"_s)
        return BookFormat::Mp3;
    if (suffix == u"m4a"_s)
        return BookFormat::AacStandard;
    if (suffix == u"m4b"_s)
        return BookFormat::AacBookmark;
    return std::nullopt;
}

QString formatName(BookFormat format)
{
    switch (format) {
    case BookFormat::Mp3:
        return u"MP3"_s;
    case BookFormat::AacStandard:
        return u"AAC Standard (.m4a)"_s;
    case BookFormat::AacBookmark:
        break;
    }
    return u"AAC Bookmark (.m4b)"_s;
}

} // namespace

QString BookPlan::extensionOf(BookFormat format)
{
    switch (format) {
    case BookFormat::Mp3:
        return u"mp3"_s;
    case BookFormat::AacStandard:
        return u"m4a"_s;
    case BookFormat::AacBookmark:
        break;
    }
    return u"m4b"_s;
}

QStringList BookPlan::expand(const QStringList& inputs, Problem& problem)
{
    QStringList paths;
    for (const QString& input : inputs) {
        const QFileInfo info(input);
        if (info.isDir())
            paths << BookFiles::audioFilesIn(info.absoluteFilePath());
        else if (info.isFile())
            paths << info.absoluteFilePath();
        else
            problem = {.text = u"\u201C%1\u201D does not exist."_s.arg(input), .usage = true};
    }
    if (paths.isEmpty() && problem.text.isEmpty())
        problem = {.text = u"No audio files were found in %1."_s.arg(inputs.join(u", "_s)),
                   .usage = true};
    return problem.text.isEmpty() ? paths : QStringList();
}

std::optional<BookPlan> BookPlan::make(const MakeOptions& options, const QStringList& inputs,
                                       const QString& output, const QString& name, Problem& problem)
{
    const QStringList paths = expand(inputs, problem);
    if (paths.isEmpty())
        return std::nullopt;
    // Read as the window reads them, on every core.
    auto records = QtConcurrent::blockingMapped<ItemList>(paths, BookFiles::recordOf);
    if (options.order == MakeOptions::Order::Track)
        std::stable_sort(records.begin(), records.end(), BookFiles::byTrack);
    else if (options.order == MakeOptions::Order::Path)
        std::stable_sort(records.begin(), records.end(),
                         [](const ItemRecordPtr& a, const ItemRecordPtr& b) {
                             return NaturalOrder::less(a->pathColumn, b->pathColumn);
                         });
    if (options.titles == MakeOptions::Titles::Tags) {
        for (const ItemRecordPtr& record : std::as_const(records)) {
            if (!record->tags.title.isEmpty())
                record->titleColumn = record->tags.title;
        }
    }
    if (!options.chapters.isEmpty()) {
        QString why;
        const ChapterMarks chapters = BookFiles::readChapterFile(options.chapters, records, why);
        if (!why.isEmpty()) {
            problem.text = u"The chapters of \u201C%1\u201D cannot be imported. %2"_s.arg(
                QFileInfo(options.chapters).fileName(), why);
            return std::nullopt;
        }
        BookFiles::placeChapters(records, chapters);
    }

    // The tags that were given, and the files' own where none was.
    BookTag tags = BookFiles::agreedTags(records);
    for (QString BookTag::*field :
         {&BookTag::title, &BookTag::artist, &BookTag::album, &BookTag::albumArtist,
          &BookTag::comment, &BookTag::narrator, &BookTag::year, &BookTag::series,
          &BookTag::seriesNumber, &BookTag::description}) {
        if (!(options.tags.*field).isEmpty())
            tags.*field = options.tags.*field;
    }
    QImage cover;
    if (!options.cover.isEmpty()) {
        cover = QImage(options.cover);
        if (cover.isNull()) {
            problem = {.text = u"The cover \u201C%1\u201D is no image that can be read."_s.arg(
                           options.cover),
                       .usage = true};
            return std::nullopt;
        }
    } else {
        cover = BookFiles::agreedCover(records);
    }
    if (!cover.isNull())
        tags.cover = BookFiles::coverJpeg(cover);

    // A book without a title would show in players by its file's name, or
    // not at all: it is titled as it is named.
    if (tags.title.isEmpty())
        tags.title = output.isEmpty() ? name : QFileInfo(output).completeBaseName();
    BookPlan plan;
    const BookFormat format =
        options.format.value_or(formatOfPath(output).value_or(BookFormat::AacBookmark));
    plan.output = output.isEmpty() ? Desktop::pathFor(tags.title, extensionOf(format)) : output;
    if (formatOfPath(plan.output) != format)
        plan.output += u'.' + extensionOf(format);
    plan.output = QFileInfo(plan.output).absoluteFilePath();
    plan.request = RunRequest{
        .records = records,
        .format = format,
        .bitRate = options.bitRate.isEmpty() ? std::nullopt : std::optional(options.bitRate),
        .sampleRate =
            options.sampleRate.isEmpty() ? std::nullopt : std::optional(options.sampleRate),
        .mono = options.mono,
        .tags = tags,
        .outputName = QFileInfo(plan.output).completeBaseName(),
        .decodes = false,
        .copiesAac = false,
        .encoders = options.encoders,
        .evenVolume = options.evenVolume,
        .gains = {},
        .encoderGain = 0};
    plan.request.chooseMethod();
    return plan;
}

QString BookPlan::text() const
{
    const RunRequest& run = request;
    QStringList lines;
    lines << u"Book: %1"_s.arg(output) << u"Format: %1"_s.arg(formatName(run.format));
    QStringList steps;
    for (const auto& step : BookRun::steps(run))
        steps << BookRun::nameOf(step->state());
    QString how = run.copiesAac ? u"the AAC audio copied as it is, not encoded"_s
                  : run.decodes ? u"every file decoded, then encoded"_s
                  : run.format == BookFormat::Mp3
                      ? u"the MP3 files joined as they are, not encoded"_s
                      : u"the MP3 files joined, then encoded"_s;
    if (run.evenVolume != EvenVolume::Off)
        how = u"every file measured, then decoded with its gain and encoded"_s;
    lines << u"Steps: %1 (%2)"_s.arg(steps.join(u", "_s), how);
    if (run.evenVolume != EvenVolume::Off)
        lines << u"Even volume: %1 to %2 LUFS, peaks at most -1.5 dBTP"_s
                     .arg(run.evenVolume == EvenVolume::WholeBook ? u"the whole book"_s
                                                                  : u"each file"_s)
                     .arg(RunRequest::kTargetLoudness);
    if (!run.copiesAac && (run.format != BookFormat::Mp3 || run.decodes))
        lines << u"Encoding: %1, %2, %3; %4"_s.arg(
            run.bitRate.value_or(u"the source's bit rate"_s),
            run.sampleRate ? *run.sampleRate + u" Hz"_s : u"the source's sample rate"_s,
            run.mono ? u"mono"_s : u"stereo"_s,
            run.encoders > 0 ? u"up to %1 encoders at once"_s.arg(run.encoders)
                             : u"one encoder per core"_s);

    QList<double> starts;
    QList<double> lengths;
    QList<double> audio;
    double total = 0;
    lines << u""_s << u"Files, in order:"_s;
    for (qsizetype i = 0; i < run.records.size(); ++i) {
        const ItemRecord& record = *run.records.at(i);
        starts << total;
        lengths << record.lengthColumn.value_or(0);
        // Where its audio starts in the book: as listed, with no lead-in.
        audio << total;
        total += lengths.constLast();
        lines << u"%1. %2 (%3)%4"_s.arg(i + 1).arg(
            record.pathColumn, ItemRecord::formatLength(record.lengthColumn.value_or(0)),
            record.problem.isEmpty() ? QString() : u": "_s + record.problem);
    }
    const QList<ChapterList::Placed> chapters =
        ChapterList::placed(run.records, starts, audio, lengths);
    lines
        << u""_s
        << u"Chapters (%1), %2 in all:"_s.arg(chapters.size()).arg(ItemRecord::formatLength(total));
    for (const ChapterList::Placed& chapter : chapters)
        lines << u"%1  %2"_s.arg(ChapterList::bookTime(chapter.start), chapter.title);

    lines << u""_s << u"Tags:"_s;
    const std::pair<const char16_t*, QString> tags[] = {
        {u"title", run.tags.title},       {u"artist", run.tags.artist},
        {u"album", run.tags.album},       {u"album artist", run.tags.albumArtist},
        {u"narrator", run.tags.narrator}, {u"year", run.tags.year},
        {u"series", run.tags.series},     {u"series number", run.tags.seriesNumber},
        {u"comment", run.tags.comment},   {u"description", run.tags.description}};
    for (const auto& [name, value] : tags) {
        if (!value.isEmpty())
            lines << u"  %1: %2"_s.arg(QString::fromUtf16(name), value.simplified());
    }
    lines << (run.tags.cover.isEmpty() ? u"  cover: none"_s
                                       : u"  cover: a %1 JPEG image"_s.arg(DiskSpace::roundedSize(
                                             double(run.tags.cover.size()))));

    lines << u""_s
          << u"Disk space: about %1 in the temporary folder while it is made."_s.arg(
                 DiskSpace::roundedSize(double(RunChecks::roomNeeded(run))));
    return lines.join(u'\n') + u'\n';
}
