#include "BookPlan.h"

#include "BookFiles.h"
#include "BookRun.h"
#include "ChapterEditor.h"
#include "ChapterList.h"
#include "Desktop.h"
#include "DetailsLookup.h"
#include "DiskSpace.h"
#include "DraftBook.h"
#include "ListEditor.h"
#include "NaturalOrder.h"
#include "RunChecks.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QtConcurrent>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

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
    // The same draft as the window's, read on every core as the window reads.
    DraftBook draft;
    QStringList notes;
    const auto records = QtConcurrent::blockingMapped<ItemList>(paths, BookFiles::recordOf);
    draft.edit(u"Add Files"_s, [&records](DraftBook::Edit& edit) { edit.insert(0, records); });
    ListEditor list(draft);
    if (options.order == MakeOptions::Order::Track) {
        list.sortByTrack();
    } else if (options.order == MakeOptions::Order::Path) {
        ItemList order = draft.files();
        std::stable_sort(order.begin(), order.end(),
                         [](const ItemRecordPtr& a, const ItemRecordPtr& b) {
                             return NaturalOrder::less(a->pathColumn, b->pathColumn);
                         });
        draft.edit(u"Sort by Path"_s, [&order](DraftBook::Edit& edit) { edit.rearrange(order); });
    }
    if (options.titles == MakeOptions::Titles::Tags)
        list.titlesFromTags();
    if (!options.chapters.isEmpty()) {
        if (const QString why = ChapterEditor(draft).import(options.chapters); !why.isEmpty()) {
            problem.text = u"The chapters of \u201C%1\u201D cannot be imported. %2"_s.arg(
                QFileInfo(options.chapters).fileName(), why);
            return std::nullopt;
        }
    }

    // The tags that were given, and the files' own where none was.
    BookTag tags;
    for (QString BookTag::*field :
         {&BookTag::title, &BookTag::artist, &BookTag::album, &BookTag::albumArtist,
          &BookTag::comment, &BookTag::narrator, &BookTag::year, &BookTag::series,
          &BookTag::seriesNumber, &BookTag::description})
        tags.*field = options.tags.*field;
    if (!options.cover.isEmpty()) {
        const QImage cover(options.cover);
        if (cover.isNull()) {
            problem = {.text = u"The cover \u201C%1\u201D is no image that can be read."_s.arg(
                           options.cover),
                       .usage = true};
            return std::nullopt;
        }
        tags.cover = BookFiles::coverJpeg(cover);
        tags.coverMimeType = u"image/jpeg"_s;
    }
    draft.edit(u"Tags"_s, [&tags](DraftBook::Edit& edit) { edit.setTags(tags); });
    draft.fillTagsFromFiles(false);
    if (options.details) {
        const QString folder = QFileInfo(paths.first()).dir().dirName();
        DetailsLookup::Outcome details = DetailsLookup::lookUp(draft.tags(), folder);
        notes << details.said;
        if (details.taken)
            draft.edit(u"Take Book Details"_s,
                       [&details](DraftBook::Edit& edit) { edit.setTags(details.tags); });
    }
    // A book without a title would show in players by its file's name, or
    // not at all: it is titled as it is named.
    if (draft.tags().title.isEmpty()) {
        tags = draft.tags();
        tags.title = output.isEmpty() ? name : QFileInfo(output).completeBaseName();
        draft.edit(u"Title"_s, [&tags](DraftBook::Edit& edit) { edit.setTags(tags); });
    }

    BookPlan plan;
    plan.notes = notes;
    const BookFormat format = options.format.value_or(
        BookFormats::ofPath(output).value_or(BookFormat::AacBookmark));
    plan.output = output.isEmpty()
                      ? Desktop::pathFor(draft.tags().title, BookFormats::extension(format))
                      : output;
    if (BookFormats::ofPath(plan.output) != format)
        plan.output += u'.' + BookFormats::extension(format);
    plan.output = QFileInfo(plan.output).absoluteFilePath();
    draft.setSettings({.format = format,
                       .bitRate = options.bitRate.isEmpty() ? std::nullopt
                                                            : std::optional(options.bitRate),
                       .sampleRate = options.sampleRate.isEmpty()
                                         ? std::nullopt
                                         : std::optional(options.sampleRate),
                       .mono = options.mono,
                       .evenVolume = options.evenVolume,
                       .outputName = QFileInfo(plan.output).completeBaseName(),
                       .encoders = options.encoders});
    plan.request = draft.order();
    return plan;
}

QString BookPlan::text() const
{
    const RunWork run(request);
    const RunRequest& asked = run.request;
    QStringList lines;
    lines << u"Book: %1"_s.arg(output) << u"Format: %1"_s.arg(BookFormats::name(asked.format));
    QStringList steps;
    for (const auto& step : BookRun::steps(run))
        steps << BookRun::nameOf(step->state());
    QString how = run.copiesAac ? u"the AAC audio copied as it is, not encoded"_s
                  : run.decodes ? u"every file decoded, then encoded"_s
                  : asked.format == BookFormat::Mp3
                      ? u"the MP3 files joined as they are, not encoded"_s
                      : u"the MP3 files joined, then encoded"_s;
    if (asked.evenVolume != EvenVolume::Off)
        how = u"every file measured, then decoded with its gain and encoded"_s;
    lines << u"Steps: %1 (%2)"_s.arg(steps.join(u", "_s), how);
    if (asked.evenVolume != EvenVolume::Off)
        lines << u"Even volume: %1 to %2 LUFS, peaks at most -1.5 dBTP"_s
                     .arg(asked.evenVolume == EvenVolume::WholeBook ? u"the whole book"_s
                                                                  : u"each file"_s)
                     .arg(RunRequest::kTargetLoudness);
    if (!run.copiesAac && (asked.format != BookFormat::Mp3 || run.decodes))
        lines << u"Encoding: %1, %2, %3; %4"_s.arg(
            asked.bitRate.value_or(u"the source's bit rate"_s),
            asked.sampleRate ? *asked.sampleRate + u" Hz"_s : u"the source's sample rate"_s,
            asked.mono ? u"mono"_s : u"stereo"_s,
            asked.encoders > 0 ? u"up to %1 encoders at once"_s.arg(asked.encoders)
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
        {u"title", asked.tags.title},       {u"artist", asked.tags.artist},
        {u"album", asked.tags.album},       {u"album artist", asked.tags.albumArtist},
        {u"narrator", asked.tags.narrator}, {u"year", asked.tags.year},
        {u"series", asked.tags.series},     {u"series number", asked.tags.seriesNumber},
        {u"comment", asked.tags.comment},   {u"description", asked.tags.description}};
    for (const auto& [name, value] : tags) {
        if (!value.isEmpty())
            lines << u"  %1: %2"_s.arg(QString::fromUtf16(name), value.simplified());
    }
    lines << (asked.tags.cover.isEmpty() ? u"  cover: none"_s
                                       : u"  cover: a %1 JPEG image"_s.arg(DiskSpace::roundedSize(
                                             double(asked.tags.cover.size()))));

    lines << u""_s
          << u"Disk space: about %1 in the temporary folder while it is made."_s.arg(
                 DiskSpace::roundedSize(double(RunChecks::roomNeeded(run))));
    return lines.join(u'\n') + u'\n';
}
