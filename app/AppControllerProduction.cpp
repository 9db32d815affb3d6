// The production run: a state machine in mState that hands each step to its
// worker and moves on when the worker reports back.
#include "AppController.h"
#include "ArtworkWell.h"
#include "AudioKind.h"
#include "DiskSpace.h"
#include "FileHelper.h"
#include "ItemTableModel.h"
#include "AudioProbe.h"
#include "AacFormat.h"
#include "DecodedLength.h"
#include "Mp4AudioTrack.h"
#include "Mp3Frames.h"
#include "SheetDialog.h"
#include "WorkerException.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <cmath>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

void AppController::joinAll(QObject*)
{
    if (!atLeastOneAdded())
        return;
    if (outputName->text().isEmpty() && !title->text().isEmpty())
        outputName->setText(title->text());
    showChapterNote();
    beginSheet(outputWindow);
    outputName->setFocus();
}

void AppController::startJoin(QObject*)
{
    if (outputName->text().isEmpty())
        return;
    closeJoinStart(this);
    startMaking();
}

void AppController::closeJoinStart(QObject*)
{
    endSheet(outputWindow);
}

void AppController::closeJoin(QObject*)
{
    endSheet(joinProgressWindow);
}

void AppController::startTagging(QObject*)
{
    beginSheet(tagWindow);
}

void AppController::stopTagging(QObject*)
{
    endSheet(tagWindow);
}

void AppController::stopJoin(QObject*)
{
    // The stopped worker still reports its end; that report names a run
    // that is no longer the current one.
    const bool running = mState != RunState::Idle && mState != RunState::Starting;
    if (running)
        mRun.number = 0;
    switch (mState) {
    case RunState::Joining:
        if (mRun.decodes)
            theSourceDecoder->terminate();
        else
            theMp3Joiner->terminateJoin();
        break;
    case RunState::Converting:
        if (mRun.copiesAac)
            theAacCopier->terminate();
        else
            theMp3Converter->terminateConvert();
        break;
    case RunState::WritingChapters:
        theChapterWriter->terminateChapter();
        break;
    case RunState::Tagging:
        if (mRun.format == BookFormat::Mp3)
            theMp3BookTagger->terminateTagging();
        else
            theM4bTagger->terminateTagging();
        break;
    case RunState::Starting:
        stopWaitingForFolder();
        break;
    default:
        break;
    }
    if (running)
        closeJoin(this);
    mState = RunState::Idle;
}

void AppController::startMaking()
{
    // A join that was stopped may still be unwinding; it must end before a new one starts.
    if (mState != RunState::Idle || theMp3Joiner->isJoining())
        return;
    mState = RunState::Starting;
    const std::optional<BookFormat> format = RunRequest::formatFor(encodingTitle());
    if (!format) {
        processDidEndBadly(std::make_exception_ptr(WorkerException(
            u"Fablewick does not know how to make “%1”. Choose AAC Bookmark, AAC Standard or "
            u"MP3 as the encoding, and make the audiobook again."_s.arg(encodingTitle())
                .toStdString())));
        return;
    }
    mRun = requestFor(*format);
    // Kept for the whole session: a stopped run's worker may report to its
    // reporter long after the run has ended.
    mReporters.push_back(std::make_unique<RunReporter>(*this, mRun.number));
    inProgressTasks();
}

RunRequest AppController::requestFor(BookFormat format)
{
    const QString rate = outputRate->currentText();
    const QString frequency = outputFrequency->currentText();
    RunRequest run{.number = ++mRunsStarted,
                   .records = FileHelper::selectMp3Files(TableData),
                   .format = format,
                   .bitRate = rate.contains(u"Same"_s) ? std::nullopt : std::optional(rate),
                   .sampleRate =
                       frequency.contains(u"Same"_s) ? std::nullopt : std::optional(frequency),
                   .mono = outputChannels->currentText().contains(u"Mono"_s),
                   .tags = sheetTags(),
                   .outputName = outputName->text(),
                   .decodes = false,
                   .copiesAac = false};
    run.decodes = std::any_of(run.records.begin(), run.records.end(), [](const ItemRecordPtr& r) {
        return AudioKind::isOther(r->pathColumn);
    });
    const auto& aac = run.records.isEmpty() ? std::nullopt : run.records.first()->copyableAac;
    run.copiesAac = format != BookFormat::Mp3 && !run.bitRate && !run.sampleRate && aac &&
                    aac->channels == (run.mono ? 1 : 2) &&
                    std::all_of(run.records.begin(), run.records.end(),
                                [&](const ItemRecordPtr& r) { return r->copyableAac == aac; });
    run.decodes = run.decodes && !run.copiesAac;
    return run;
}

void AppController::inProgressTasks()
{
    switch (mState) {
    case RunState::Starting:
        if (readyToJoin()) {
            mState = RunState::Joining;
            if (mRun.copiesAac)
                doCopy();
            else if (mRun.decodes)
                doDecode();
            else
                doJoin();
        }
        break;
    case RunState::Joining:
        afterJoin();
        break;
    case RunState::Converting:
        srcPath = inTempFolder(mRun.format == BookFormat::Mp3 ? u"mp3.mp3"_s : u"m4a.m4a"_s);
        if (const QString missing = bookShortfall(*srcPath); !missing.isEmpty()) {
            closeJoin(this);
            processDidEndBadly(std::make_exception_ptr(WorkerException(missing.toStdString())));
            return;
        }
        if (mRun.format == BookFormat::Mp3) {
            // Encoded from decoded sources: tagged as a joined book is.
            mState = RunState::Tagging;
            dstPath = inTempFolder(u"mp3-tagged.mp3"_s);
            doMp3Tagging(*srcPath, *dstPath);
        } else if (mRun.format == BookFormat::AacStandard) {
            mState = RunState::Tagging;
            dstPath = inTempFolder(u"m4a-tagged.m4a"_s);
            doTagging(*srcPath, *dstPath);
        } else {
            mState = RunState::WritingChapters;
            doChapter(*srcPath);
        }
        break;
    case RunState::WritingChapters:
        srcPath = inTempFolder(u"m4b.m4b"_s);
        dstPath = inTempFolder(u"m4b-tagged.m4b"_s);
        doTagging(*srcPath, *dstPath);
        break;
    case RunState::Tagging:
        srcPath = dstPath;
        dstPath = desktopPathFor(QFileInfo(*srcPath).suffix());
        moveFile(*srcPath, *dstPath);
        mState = RunState::Idle;
        break;
    default:
        break;
    }
}

// Everything a join needs, checked before anything is written; false, with
// the reason shown, when the run cannot start.
bool AppController::readyToJoin()
{
    // A file that is gone or holds no audio would make a book with a hole
    // in it: the run stops before anything is touched.
    if (const QString failures = checkFilesToJoin(); !failures.isEmpty()) {
        processDidEndBadly(std::make_exception_ptr(WorkerException(failures.toStdString())));
        return false;
    }
    if (!tempFolder)
        tempFolder = FileHelper::makeNewTempFolder(u"Fablewick"_s);
    // Without a folder of our own, or with one that keeps an earlier run's
    // files, the joined file would be wrong: stop before anything is written.
    if (!tempFolder) {
        processDidEndBadly(std::make_exception_ptr(
            WorkerException(FileHelper::whyTempFolderRefused(u"Fablewick"_s).toStdString())));
        return false;
    }
    // A tool of an earlier instance may still write there; it must end first.
    if (!claimTempFolder())
        return false;
    if (!FileHelper::deleteContentOfDirectory(*tempFolder)) {
        processDidEndBadly(std::make_exception_ptr(WorkerException(
            u"The temporary folder %1 cannot be emptied."_s.arg(*tempFolder).toStdString())));
        return false;
    }
    return roomForRun();
}

void AppController::afterJoin()
{
    srcPath = inTempFolder(u"mp3.mp3"_s);
    if (mRun.format != BookFormat::Mp3 || mRun.decodes) {
        mState = RunState::Converting;
        doConversion(*srcPath);
        return;
    }
    // An MP3 book gets a tag of its own, with its chapters, before
    // delivery; with nothing joined, delivery says so.
    if (QFileInfo::exists(*srcPath)) {
        mState = RunState::Tagging;
        dstPath = inTempFolder(u"mp3-tagged.mp3"_s);
        doMp3Tagging(*srcPath, *dstPath);
        return;
    }
    closeJoin(this);
    dstPath = desktopPathFor(u"mp3"_s);
    moveFile(*srcPath, *dstPath);
    mState = RunState::Idle;
}

void AppController::doJoin()
{
    theMp3Joiner->setJoinFiles(mRun.records);
    theMp3Joiner->setOutputFolder(*tempFolder);
    theMp3Joiner->setOutputFile(u"mp3"_s);
    theMp3Joiner->setOutputAuthor(mRun.tags.artist);
    theMp3Joiner->setOutputTitle(mRun.tags.title);
    theMp3Joiner->setDelegate(mReporters.back().get());

    joinProgressDescription->setText(QString());
    joinProgressIndicator->setRange(0, static_cast<int>(theMp3Joiner->joinFiles().size()));
    joinProgressIndicator->setValue(0);
    beginSheet(joinProgressWindow);
    // The join can be stopped too, so its Stop button is shown.
    stopConvertingButton->setVisible(true);

    mState = RunState::Joining;
    theMp3Joiner->startJoin();
}

// The sample rate asked for, else the first source's, else 44.1 kHz.
int AppController::decodedRate() const
{
    if (mRun.sampleRate && mRun.sampleRate->toInt() > 0)
        return mRun.sampleRate->toInt();
    const int first = mRun.records.isEmpty() ? 0
                                             : mRun.records.first()->sampleFrequencyColumn.toInt();
    return first > 0 ? first : 44100;
}

void AppController::doDecode()
{
    const QString folder = inTempFolder(u"Decoded"_s);
    QDir().mkpath(folder);
    beginFileProgress();
    const RunReporter* reporter = mReporters.back().get();
    theSourceDecoder->start(
        runSources(), folder, decodedRate(), mRun.mono ? 1 : 2,
        [reporter](int done, int total) {
            reporter->deliver([=](AppController& c) { c.sourceDecoderProgress(done, total); });
        },
        [reporter](const std::exception_ptr& failure) {
            reporter->deliver([failure](AppController& c) { c.sourceDecoderDidFinish(failure); });
        });
}

// The sources' frames copied into the book as they are, with no encoder.
void AppController::doCopy()
{
    beginFileProgress();
    mState = RunState::Converting;
    const RunReporter* reporter = mReporters.back().get();
    theAacCopier->start(
        runSources(), mRun.records.first()->copyableAac->audioConfig, inTempFolder(u"m4a.m4a"_s),
        [reporter](int done, int total) {
            reporter->deliver([=](AppController& c) { c.aacCopierProgress(done, total); });
        },
        [reporter](const std::exception_ptr& failure) {
            reporter->deliver([failure](AppController& c) { c.aacCopierDidFinish(failure); });
        });
}

void AppController::aacCopierProgress(int done, int total)
{
    if (mState == RunState::Converting)
        showFileProgress(u"Copying file %1 of %2..."_s.arg(done).arg(total), done);
}

// Each record takes the place that its frames have in the book.
void AppController::aacCopierDidFinish(const std::exception_ptr& failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const AacCopier::NotAlike& e) {
        // A file changed since it was listed: the book is made by decoding.
        std::fprintf(stderr, "fablewick: decoding instead of copying, as %s\n", e.what());
        mRun.copiesAac = false;
        mRun.decodes = true;
        mState = RunState::Joining;
        // The decoded audio needs room of its own.
        if (roomForRun())
            doDecode();
        else
            closeJoin(this);
        return;
    } catch (...) {
    }
    if (failure) {
        closeJoin(this);
        processDidEndBadly(failure);
        return;
    }
    const std::vector<ItemRecord::Exact>& placements = theAacCopier->placements();
    for (qsizetype i = 0; i < mRun.records.size(); ++i)
        mRun.records.at(i)->exact = placements.at(static_cast<std::size_t>(i));
    inProgressTasks();
}

void AppController::sourceDecoderProgress(int done, int total)
{
    if (mState == RunState::Joining)
        showFileProgress(u"Decoding file %1 of %2..."_s.arg(done).arg(total), done);
}

QStringList AppController::runSources() const
{
    QStringList sources;
    for (const ItemRecordPtr& record : std::as_const(mRun.records))
        sources << record->pathColumn;
    return sources;
}

// The progress sheet, counting the run's files as a worker goes through them.
void AppController::beginFileProgress()
{
    joinProgressDescription->setText(QString());
    joinProgressIndicator->setRange(0, static_cast<int>(mRun.records.size()));
    joinProgressIndicator->setValue(0);
    beginSheet(joinProgressWindow);
    stopConvertingButton->setVisible(true);
}

void AppController::showFileProgress(const QString& text, int done)
{
    joinProgressDescription->setText(text);
    joinProgressIndicator->setValue(done);
}

// Each record takes the length that its decoded audio has, and the encoder
// reads that audio.
void AppController::sourceDecoderDidFinish(const std::exception_ptr& failure)
{
    if (failure) {
        closeJoin(this);
        processDidEndBadly(failure);
        return;
    }
    const int rate = decodedRate();
    if (const QString cut = decodedCutShort(); !cut.isEmpty()) {
        closeJoin(this);
        processDidEndBadly(std::make_exception_ptr(WorkerException(cut.toStdString())));
        return;
    }
    for (qsizetype i = 0; i < mRun.records.size(); ++i) {
        ItemRecord& record = *mRun.records.at(i);
        const qint64 samples = theSourceDecoder->samples().at(static_cast<std::size_t>(i));
        record.symbolicPath = theSourceDecoder->outputs().at(i);
        record.exact = ItemRecord::Exact{.samples = samples,
                                         .leadIn = 0,
                                         .sampleRate = rate,
                                         .joinedSamples = samples,
                                         .joinedLeadIn = 0};
        const qint64 seconds = samples / rate;
        record.mins = QString::number(seconds / 60);
        record.secs = QString::number(seconds % 60);
    }
    inProgressTasks();
}

// A decoder that gives up inside a damaged file still ends well, with the
// audio up to there: the book would be short by the rest without a word.
// ffprobe's length is the header's, except for bare ADTS, which it guesses.
QString AppController::decodedCutShort()
{
    const double rate = decodedRate();
    QStringList cut;
    for (qsizetype i = 0; i < mRun.records.size(); ++i) {
        ItemRecord& record = *mRun.records.at(i);
        if (QFileInfo(record.pathColumn).suffix().compare(u"aac"_s, Qt::CaseInsensitive) == 0)
            continue;
        const double decoded =
            static_cast<double>(theSourceDecoder->samples().at(static_cast<std::size_t>(i))) / rate;
        const double listed = record.lengthColumn.value_or(0);
        if (listed - decoded > 2.0 + listed / 100) {
            // The list marks it too, for when the alert is gone.
            record.problem = ItemRecord::cutShortProblem(decoded, listed);
            cut << u"“%1” %2"_s.arg(QFileInfo(record.pathColumn).fileName(), record.problem);
        }
    }
    if (cut.isEmpty())
        return {};
    mTableModel->recordsChanged();
    return u"%1. Remove it from the list, or put a whole copy in its place, and make the "
           u"audiobook again."_s.arg(cut.join(u"; "));
}

// An encoder or a copy that stops early still ends well; the book it made
// is measured against its sources before it goes any further. Empty when
// it is whole, or when its sources' lengths are not known to the sample.
QString AppController::bookShortfall(const QString& book) const
{
    qint64 sources = 0;
    int sourceRate = 0;
    for (const ItemRecordPtr& record : std::as_const(mRun.records)) {
        if (!record->exact || record->exact->sampleRate <= 0)
            return {};
        sources += record->exact->samples;
        sourceRate = record->exact->sampleRate;
    }
    qint64 made = 0;
    int rate = 0;
    qint64 frame = 0;
    if (mRun.format == BookFormat::Mp3) {
        const auto frames = Mp3Frames::measure(book);
        if (!frames)
            return u"The encoder made no MP3 audio."_s;
        made = DecodedLength::alone(*frames);
        rate = frames->sampleRate;
        frame = frames->samplesPerFrame;
    } else {
        try {
            const Mp4AudioTrack track = Mp4AudioTrack::read(book);
            made = static_cast<qint64>(track.sizes.size()) * Aac::kFrameSamples - track.priming -
                   track.padding;
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
    const auto expected = static_cast<qint64>(
        std::floor(static_cast<double>(sources) * rate / sourceRate));
    if (expected - made <= frame + static_cast<qint64>(mRun.records.size()))
        return {};
    return u"The finished audio is %1 long, but its files play for %2: %3 samples at %4 Hz "
           u"are missing, so the book was not delivered. Make the audiobook again; if it is "
           u"short again, the disk or a tool failed without saying so."_s
        .arg(ItemRecord::formatLength(static_cast<double>(made) / rate),
             ItemRecord::formatLength(static_cast<double>(expected) / rate))
        .arg(expected - made)
        .arg(rate);
}

void AppController::mp3JoinProgress(int index, int totalFiles)
{
    joinProgressDescription->setText(u"Joining file %1 of %2..."_s.arg(index + 1).arg(totalFiles));
    joinProgressIndicator->setValue(index + 1);
}

void AppController::mp3JoinDidFinish(Mp3Joiner*, const std::exception_ptr& joinException)
{
    if (joinException) {
        closeJoin(this);
        processDidEndBadly(joinException);
        return;
    }
    inProgressTasks();
}

QString AppController::problemText(const Mp3Frames::Check& check)
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

// Every file to be joined is looked at again, and the list shows what was found.
QString AppController::checkFilesToJoin()
{
    QStringList failures;
    std::optional<Mp3Frames::Check> first;
    QString firstName;
    auto describe = [](const Mp3Frames::Check& f) {
        return u"%1 Hz %2"_s.arg(f.sampleRate).arg(f.channels == 1 ? u"mono"_s : u"stereo"_s);
    };
    for (const ItemRecordPtr& record : std::as_const(mRun.records)) {
        const QString name = QFileInfo(record->pathColumn).fileName();
        if (AudioKind::isOther(record->pathColumn)) {
            // ffprobe ran when the file was listed; a thousand runs more
            // would hold the window up. What has changed since, the decoder
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
        if (!mRun.decodes && frames.isAudio() && first &&
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
    mTableModel->recordsChanged();
    if (failures.isEmpty())
        return {};
    return u"These files cannot be joined: %1. Remove them from the list, or put the right "
           u"files in their place, and make the audiobook again."_s.arg(failures.join(u"; "));
}

// The joined file is as large as its sources; the tagged MP3 book is a
// copy of it, and an AAC book adds its own file, with chapters, with tags.
bool AppController::roomForRun()
{
    qint64 sources = 0;
    double seconds = 0;
    for (const ItemRecordPtr& record : std::as_const(mRun.records)) {
        sources += QFileInfo(record->pathColumn).size();
        seconds += record->lengthColumn.value_or(0);
    }
    mRunNeeds = (mRun.format == BookFormat::Mp3 ? 2 : 3) * sources;
    // Decoded sources are kept as 16-bit samples until the book is encoded.
    if (mRun.decodes)
        mRunNeeds = 2 * sources +
                    static_cast<qint64>(seconds * decodedRate() * (mRun.mono ? 1 : 2) * 2);
    const std::optional<qint64> free = DiskSpace::available(*tempFolder);
    if (!free || *free >= mRunNeeds)
        return true;
    processDidEndBadly(
        std::make_exception_ptr(WorkerException(tempDiskFullText().toStdString())));
    return false;
}

QString AppController::encodingTitle() const
{
    return outputEncoding->currentText();
}

QString AppController::inTempFolder(const QString& name) const
{
    return tempFolder.value_or(QString()) + u'/' + name;
}

// The finished file's place: the output name on the user's Desktop. A slash in
// the name would lead out of the Desktop, so it stands as a dash.
QString AppController::desktopPathFor(const QString& extension) const
{
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty())
        desktop = QDir::homePath() + u"/Desktop"_s;
    QDir().mkpath(desktop);
    QString name = mRun.outputName;
    name.replace(u'/', u'-');
    return desktop + u'/' + name + u'.' + extension;
}
