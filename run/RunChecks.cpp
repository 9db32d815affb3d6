#include "RunChecks.h"

#include "AacFormat.h"
#include "AudioKind.h"
#include "AudioProbe.h"
#include "DecodedLength.h"
#include "Mp4AudioTrack.h"

#include <QFileInfo>
#include <QStringList>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace RunChecks {

QString problemText(const Mp3Frames::Check& check)
{
    switch (check.problem) {
    case Mp3Frames::Check::Problem::Gone:
        return u"no longer exists"_s;
    case Mp3Frames::Check::Problem::Unreadable:
        return u"cannot be read"_s;
    case Mp3Frames::Check::Problem::NotAudio:
        return u"is not an MP3 file"_s;
    case Mp3Frames::Check::Problem::CutShort:
        return ItemRecord::cutShortProblem(check.presentSeconds, check.promisedSeconds);
    case Mp3Frames::Check::Problem::None:
        break;
    }
    return {};
}

QString filesToJoin(const RunWork& run)
{
    QStringList failures;
    std::optional<Mp3Frames::Check> first;
    QString firstName;
    auto describe = [](const Mp3Frames::Check& f) {
        return u"%1 Hz %2"_s.arg(f.sampleRate).arg(f.channels == 1 ? u"mono"_s : u"stereo"_s);
    };
    for (const ItemRecordPtr& record : std::as_const(run.records)) {
        const QString name = QFileInfo(record->pathColumn).fileName();
        if (AudioKind::isOther(record->pathColumn)) {
            // ffprobe ran when the file was listed; a thousand runs more
            // would hold the run up. What has changed since, the decoder
            // names in its own words.
            if (!QFileInfo::exists(record->pathColumn))
                record->problem = problemText({.problem = Mp3Frames::Check::Problem::Gone});
            else if (!record->lengthRead)
                record->problem = AudioProbe::probe(record->pathColumn).problem;
            if (!record->problem.isEmpty())
                failures << u"“%1” %2"_s.arg(name, record->problem);
            continue;
        }
        const Mp3Frames::Check frames = Mp3Frames::check(record->pathColumn);
        record->problem = problemText(frames);
        // Joined, files of another rate or channel count would play at the
        // wrong speed or fall out of step with their chapters; decoded, they
        // are all made alike.
        if (!run.decodes && frames.isAudio() && first &&
            (frames.sampleRate != first->sampleRate || frames.channels != first->channels))
            record->problem = u"is %1, unlike the first file, “%2” (%3)"_s.arg(
                describe(frames), firstName, describe(*first));
        if (frames.isAudio() && !first) {
            first = frames;
            firstName = name;
        }
        if (!record->problem.isEmpty())
            failures << u"“%1” %2"_s.arg(name, record->problem);
    }
    if (failures.isEmpty())
        return {};
    return u"These files cannot be joined: %1. Remove them from the list, or put the right "
           u"files in their place, and make the audiobook again."_s.arg(failures.join(u"; "));
}

// A decoder that gives up inside a damaged file still ends well, with the
// audio up to there: the book would be short by the rest without a word.
// ffprobe's length is the header's, except for bare ADTS, which it guesses.
QString decodedCutShort(const RunWork& run, const std::vector<qint64>& samples)
{
    const double rate = run.decodedRate();
    QStringList cut;
    for (qsizetype i = 0; i < run.records.size() && i < qsizetype(samples.size()); ++i) {
        ItemRecord& record = *run.records.at(i);
        if (QFileInfo(record.pathColumn).suffix().compare(u"aac"_s, Qt::CaseInsensitive) == 0)
            continue;
        const double decoded = static_cast<double>(samples.at(static_cast<std::size_t>(i))) / rate;
        const double listed = record.lengthColumn.value_or(0);
        if (listed - decoded > 2.0 + listed / 100) {
            // The list marks it too, for when the alert is gone.
            record.problem = ItemRecord::cutShortProblem(decoded, listed);
            cut << u"“%1” %2"_s.arg(QFileInfo(record.pathColumn).fileName(), record.problem);
        }
    }
    if (cut.isEmpty())
        return {};
    return u"%1. Remove it from the list, or put a whole copy in its place, and make the "
           u"audiobook again."_s.arg(cut.join(u"; "));
}

// An encoder or a copy that stops early still ends well; the book it made
// is measured against its sources before it goes any further. Empty when
// it is whole, or when its sources' lengths are not known to the sample.
QString bookShortfall(const RunWork& run, const QString& book)
{
    qint64 sources = 0;
    int sourceRate = 0;
    for (const ItemRecordPtr& record : std::as_const(run.records)) {
        if (!record->exact || record->exact->sampleRate <= 0)
            return {};
        sources += record->exact->samples;
        sourceRate = record->exact->sampleRate;
    }
    qint64 made = 0;
    int rate = 0;
    qint64 frame = 0;
    if (run.request.format == BookFormat::Mp3) {
        const auto frames = Mp3Frames::measure(book);
        if (!frames)
            return u"The encoder made no MP3 audio."_s;
        made = DecodedLength::alone(*frames);
        rate = frames->sampleRate;
        frame = frames->samplesPerFrame;
    } else {
        try {
            const Mp4AudioTrack track = Mp4AudioTrack::read(book);
            made = track.playedSamples();
            rate = track.sampleRate;
            frame = Aac::kFrameSamples;
        } catch (const std::exception&) {
            // Not a track that can be measured here; its chapters still place it.
            return {};
        }
    }
    if (rate <= 0 || sourceRate <= 0 || sources <= 0)
        return {};
    // Resampled, a source of n samples gives n times the ratio, give or take one.
    const auto expected =
        static_cast<qint64>(std::floor(static_cast<double>(sources) * rate / sourceRate));
    if (expected - made <= frame + static_cast<qint64>(run.records.size()))
        return {};
    return u"The finished audio is %1 long, but its files play for %2: %3 samples at %4 Hz "
           u"are missing, so the book was not delivered. Make the audiobook again; if it is "
           u"short again, the disk or a tool failed without saying so."_s
               .arg(ItemRecord::formatLength(static_cast<double>(made) / rate),
                    ItemRecord::formatLength(static_cast<double>(expected) / rate))
               .arg(expected - made)
               .arg(rate);
}

// The joined file is as large as its sources; the tagged MP3 book is a
// copy of it, and an AAC book adds its own file, with chapters, with tags.
// Decoded sources are kept as 16-bit samples until the book is encoded.
qint64 roomNeeded(const RunWork& run)
{
    qint64 sources = 0;
    double seconds = 0;
    for (const ItemRecordPtr& record : std::as_const(run.records)) {
        sources += QFileInfo(record->pathColumn).size();
        seconds += record->lengthColumn.value_or(0);
    }
    if (run.decodes)
        return 2 * sources +
               static_cast<qint64>(seconds * run.decodedRate() * (run.request.mono ? 1 : 2) * 2);
    return (run.request.format == BookFormat::Mp3 ? 2 : 3) * sources;
}

} // namespace RunChecks
