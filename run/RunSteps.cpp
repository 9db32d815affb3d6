#include "RunSteps.h"

#include "AacCopier.h"
#include "ChapterList.h"
#include "Leveller.h"
#include "LoudnessMeter.h"
#include "M4bTagger.h"
#include "Mp3BookTagger.h"
#include "Mp3Converter.h"
#include "Mp3Helper.h"
#include "Mp3Joiner.h"
#include "RunChecks.h"
#include "SourceDecoder.h"
#include "chapterWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;
using Paths = RunStep::Paths;

namespace {

bool isPlainNumber(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The gain that brings a loudness to the target, in dB: none for silence,
// and at most so much that a near-silent file is not made a roar of noise.
double gainFor(double loudness)
{
    constexpr double kMostGain = 30.0;
    if (!std::isfinite(loudness))
        return 0;
    return std::clamp(RunRequest::kTargetLoudness - loudness, -kMostGain, kMostGain);
}

// Each record takes the length that its decoded audio has, and the encoder
// reads that audio.
void takeDecoded(RunWork& run, const SourceDecoder& decoder)
{
    const int rate = run.decodedRate();
    for (qsizetype i = 0; i < run.records.size(); ++i) {
        ItemRecord& record = *run.records.at(i);
        const qint64 samples = decoder.samples().at(static_cast<std::size_t>(i));
        record.symbolicPath = decoder.outputs().at(i);
        record.exact = ItemRecord::Exact{.samples = samples,
                                         .leadIn = 0,
                                         .sampleRate = rate,
                                         .joinedSamples = samples,
                                         .joinedLeadIn = 0};
        const qint64 seconds = samples / rate;
        record.mins = QString::number(seconds / 60);
        record.secs = QString::number(seconds % 60);
    }
}

// The tags and cover that AtomicParsley writes; a cover that cannot be
// written is left out rather than failing the book.
void setUpTagger(M4bTagger& tagger, const BookTag& tags, const Paths& paths, bool bookmark)
{
    tagger.setArtist(tags.artist);
    tagger.setTitle(tags.title);
    tagger.setAlbum(tags.album);
    tagger.setAlbumArtist(tags.albumArtist);
    tagger.setComment(tags.comment);
    tagger.setNarrator(tags.narrator);
    tagger.setYear(tags.year);
    tagger.setDescription(tags.description);
    tagger.setSeries(tags.series, tags.seriesNumber);
    tagger.setAudiobook(bookmark);
    QString art;
    if (!tags.cover.isEmpty()) {
        art = paths.folder + u"/art1.jpg"_s;
        QSaveFile file(art);
        if (!file.open(QIODevice::WriteOnly) || file.write(tags.cover) != tags.cover.size() ||
            !file.commit())
            art.clear();
    }
    tagger.setArtwork(art);
    tagger.setInputPath(paths.input);
    tagger.setOutputPath(paths.output);
}

} // namespace

// A "Same as source" rate is the source's kbit/s as ffmpeg reads it (128 is
// 128k); what mp3info cannot give as a number (a variable bit rate, an
// unreadable file) falls back to 128k and 44100 Hz.
EncoderOptions RunSteps::encoderOptions(const RunWork& run, const QString& path)
{
    QString bitrate;
    QString frequency;
    if (run.decodes) {
        // Decoded sources have no MP3 to ask: the first source's own rates,
        // but a lossless source's is no rate for a compressed book.
        const QString first =
            run.records.isEmpty() ? QString() : run.records.first()->bitrateColumn;
        bitrate = first.toInt() <= 320 ? first : QString();
        frequency = QString::number(run.decodedRate());
    } else {
        bitrate = Mp3Helper::getBitrateOfMP3(path).value_or(QString());
        frequency = Mp3Helper::getSampleFrequencyOfMP3(path).value_or(QString());
    }
    const RunRequest& asked = run.request;
    EncoderOptions options;
    options.insert(u"bitrate"_s,
                   asked.bitRate.value_or(isPlainNumber(bitrate) ? bitrate + u'k' : u"128k"_s));
    options.insert(u"sampleFrequency"_s,
                   asked.sampleRate.value_or(isPlainNumber(frequency) ? frequency : u"44100"_s));
    options.insert(u"channels"_s, asked.mono ? u"1"_s : u"2"_s);
    return options;
}

std::unique_ptr<RunStep> RunSteps::measure(const RunWork&)
{
    auto meter = std::make_shared<LoudnessMeter>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Measuring,
        .during = u"While measuring the loudness"_s,
        .start = [meter](RunWork& run, const Paths&, const WorkerReports& reports) {
            reports.tell(0, static_cast<double>(run.records.size()));
            meter->start(run.sourcePaths(), run.decodedRate(), run.channels(), reports);
        },
        .stop = [meter] { meter->terminate(); },
        // The records show their loudness, and the run takes the gains.
        .settle = [meter](RunWork& run, const Paths&) {
            const std::vector<double>& loudness = meter->loudness();
            const double whole = gainFor(meter->wholeLoudness());
            run.gains.clear();
            for (qsizetype i = 0; i < run.records.size(); ++i) {
                const double own = loudness.at(static_cast<std::size_t>(i));
                run.records.at(i)->loudness = own;
                const bool each = run.request.evenVolume == EvenVolume::EachFile;
                run.gains.push_back(each ? gainFor(own) : whole);
            }
            return QString();
        }});
}

std::unique_ptr<RunStep> RunSteps::copy(const RunWork&)
{
    auto copier = std::make_shared<AacCopier>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Copying,
        .during = u"While copying the audio"_s,
        .made = u"m4a.m4a"_s,
        .start = [copier](RunWork& run, const Paths& paths, const WorkerReports& reports) {
            reports.tell(0, static_cast<double>(run.records.size()));
            const QByteArray& config = run.records.first()->copyableAac->audioConfig;
            copier->start(run.sourcePaths(), config, paths.output, reports);
        },
        .stop = [copier] { copier->terminate(); },
        // Each record takes the place that its frames have in the book.
        .settle = [copier](RunWork& run, const Paths& paths) {
            const std::vector<ItemRecord::Exact>& placements = copier->placements();
            for (qsizetype i = 0; i < run.records.size(); ++i)
                run.records.at(i)->exact = placements.at(static_cast<std::size_t>(i));
            return RunChecks::bookShortfall(run, paths.output);
        }});
}

std::unique_ptr<RunStep> RunSteps::decode(const RunWork&)
{
    auto decoder = std::make_shared<SourceDecoder>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Decoding,
        .during = u"While decoding the files"_s,
        .made = u"mp3.mp3"_s,
        .start = [decoder](RunWork& run, const Paths& paths, const WorkerReports& reports) {
            const QString decoded = paths.folder + u"/Decoded"_s;
            QDir().mkpath(decoded);
            const bool levelled = run.request.evenVolume != EvenVolume::Off;
            decoder->setGains(levelled ? run.gains : std::vector<double>());
            reports.tell(0, static_cast<double>(run.records.size()));
            decoder->start(run.sourcePaths(), decoded, run.decodedRate(), run.channels(),
                           reports);
        },
        .stop = [decoder] { decoder->terminate(); },
        // A source that decodes short fails the run.
        .settle = [decoder](RunWork& run, const Paths&) {
            QString cut = RunChecks::decodedCutShort(run, decoder->samples());
            if (cut.isEmpty())
                takeDecoded(run, *decoder);
            return cut;
        }});
}

std::unique_ptr<RunStep> RunSteps::join(const RunWork&)
{
    auto joiner = std::make_shared<Mp3Joiner>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Joining,
        .during = u"While joining the files"_s,
        .made = u"mp3.mp3"_s,
        .start = [joiner](RunWork& run, const Paths& paths, const WorkerReports& reports) {
            reports.tell(0, static_cast<double>(run.records.size()));
            joiner->setJoinFiles(run.records);
            joiner->setOutputFolder(paths.folder);
            joiner->setOutputFile(u"mp3"_s);
            joiner->startJoin(reports);
        },
        .stop = [joiner] { joiner->terminateJoin(); },
        .settle = [joiner](RunWork&, const Paths&) {
            joiner->recordLengths();
            return QString();
        }});
}

std::unique_ptr<RunStep> RunSteps::level(const RunWork&)
{
    auto leveller = std::make_shared<Leveller>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Levelling,
        .during = u"While checking the levelled audio"_s,
        .start = [leveller](RunWork& run, const Paths& paths, const WorkerReports& reports) {
            leveller->start(run, paths.folder, paths.input, reports);
        },
        .stop = [leveller] { leveller->terminate(); },
        .settle = [leveller](RunWork& run, const Paths&) {
            leveller->settle(run);
            return QString();
        }});
}

std::unique_ptr<RunStep> RunSteps::encode(const RunWork& run)
{
    // Decoded sources made into an MP3 book give the file a join would.
    const bool mp3 = run.request.format == BookFormat::Mp3;
    auto converter = std::make_shared<Mp3Converter>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Encoding,
        .during = mp3 ? u"While converting to MP3"_s : u"While converting to AAC"_s,
        .made = mp3 ? u"mp3.mp3"_s : u"m4a.m4a"_s,
        .start = [converter, mp3](RunWork& work, const Paths& paths, const WorkerReports& reports) {
            EncoderOptions options = encoderOptions(work, paths.input);
            if (work.request.evenVolume != EvenVolume::Off && work.encoderGain != 0)
                options.insert(u"gain"_s, QString::number(work.encoderGain, 'f', 2));
            converter->setFfmpegOptions(options);
            converter->setOutputFolder(paths.folder);
            converter->setOutputFile(mp3 ? u"mp3"_s : u"m4a"_s);
            converter->setEncodesMp3(mp3);
            converter->setInputFile(paths.input);
            converter->setParallelism(work.request.encoders);
            // The files joined, each as a decoder gives it, so that the book
            // holds their audio and nothing of their tags or encoders' padding.
            QList<Mp3Converter::Source> sources;
            if (ChapterList::hasExactLengths(work.records)) {
                for (const ItemRecordPtr& record : std::as_const(work.records))
                    sources.append({.path = record->symbolicPath.value_or(record->pathColumn),
                                    .samples = record->exact->samples,
                                    .sampleRate = record->exact->sampleRate});
            }
            converter->setSourceFiles(sources);
            converter->startConvert(reports);
        },
        .stop = [converter] { converter->terminateConvert(); },
        // What was made is measured against its sources.
        .settle = [](RunWork& work, const Paths& paths) {
            return RunChecks::bookShortfall(work, paths.output);
        }});
}

std::unique_ptr<RunStep> RunSteps::chapters(const RunWork&)
{
    auto writer = std::make_shared<chapterWriter>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::WritingChapters,
        .during = u"While writing the chapters"_s,
        .made = u"m4b.m4b"_s,
        .start = [writer](RunWork& run, const Paths& paths, const WorkerReports& reports) {
            reports.tell(0, 0, u"Writing Bookmarks.."_s);
            writer->setOutputFolder(paths.folder);
            writer->setOutputFile(u"m4b"_s);
            writer->setAudioFilePath(paths.input);
            // The chapters are those of the files in the run; files listed since wait for the next.
            writer->setViewFiles(run.records);
            writer->startChapter(reports);
        },
        .stop = [writer] { writer->terminateChapter(); }});
}

std::unique_ptr<RunStep> RunSteps::mp3Tags(const RunWork&)
{
    auto tagger = std::make_shared<Mp3BookTagger>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Tagging,
        .during = u"While writing the tags"_s,
        .made = u"mp3-tagged.mp3"_s,
        .start = [tagger](RunWork& run, const Paths& paths, const WorkerReports& reports) {
            // With nothing joined there is nothing to tag; delivery says so.
            if (!QFileInfo::exists(paths.input)) {
                reports.end({});
                return;
            }
            BookTag tag = run.request.tags;
            tag.chapters = ChapterList::mp3Chapters(run.records);
            tagger->setTag(tag);
            tagger->setInputPath(paths.input);
            tagger->setOutputPath(paths.output);
            reports.tell(0, 0, u"Writing the tags and chapters.."_s);
            tagger->startTagging(reports);
        },
        .stop = [tagger] { tagger->terminateTagging(); }});
}

std::unique_ptr<RunStep> RunSteps::tags(const RunWork& run)
{
    const bool bookmark = run.request.format == BookFormat::AacBookmark;
    auto tagger = std::make_shared<M4bTagger>();
    return std::make_unique<RunStep>(RunStep::Parts{
        .state = RunState::Tagging,
        .during = u"While writing the tags"_s,
        // After chapters are written, Stop stays offered; a standard book's tags are let finish.
        .offersStop = bookmark,
        .made = bookmark ? u"m4b-tagged.m4b"_s : u"m4a-tagged.m4a"_s,
        .start = [tagger, bookmark](RunWork& work, const Paths& paths, const WorkerReports& reports) {
            setUpTagger(*tagger, work.request.tags, paths, bookmark);
            reports.tell(0, 0, u"Creating iTunes tags.."_s);
            tagger->startTagging(reports);
        },
        .stop = [tagger] { tagger->terminateTagging(); }});
}
