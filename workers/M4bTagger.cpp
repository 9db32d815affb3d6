#include "M4bTagger.h"

#include "Resources.h"
#include "ShellQuote.h"
#include "TaggerProgress.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace {
// "text" for the shell, with everything it would expand there escaped.
QString doubleQuoted(const QString& text)
{
    return u'"' + ShellQuote::insideDouble(text) + u'"';
}
} // namespace

M4bTagger::~M4bTagger()
{
    terminateTagging();
}

bool M4bTagger::nothingToTag() const
{
    return mArtist.isEmpty() && mTitle.isEmpty() && mAlbum.isEmpty() && mAlbumArtist.isEmpty() &&
           mComment.isEmpty() && mArtwork.isEmpty() && mNarrator.isEmpty() && mYear.isEmpty() &&
           mDescription.isEmpty() && mSeries.isEmpty();
}

QString M4bTagger::command() const
{
    const QString tool =
        Resources::pathForResource(u"AtomicParsley"_s, QString()).value_or(QString());
    QString command = ShellQuote::single(tool) + u' ' + doubleQuoted(mInputPath) + u' ';
    const std::pair<const char16_t*, const QString*> options[] = {
        {u"--artist", &mArtist},           {u"--title", &mTitle},     {u"--album", &mAlbum},
        {u"--albumArtist", &mAlbumArtist}, {u"--comment", &mComment}, {u"--artwork", &mArtwork}};
    for (const auto& [option, value] : options) {
        if (!value->isEmpty())
            command += QString::fromUtf16(option) + u' ' + doubleQuoted(*value) + u' ';
    }
    command += u"--genre \"Audiobook\" "_s;
    command += u"--output "_s + doubleQuoted(mOutputPath) + u' ';
    // iTunes keeps 255 letters of a description, the rest in the long one.
    constexpr qsizetype kShortDescription = 255;
    const QString grouping =
        mSeriesNumber.isEmpty() || mSeries.isEmpty() ? mSeries : mSeries + u" #"_s + mSeriesNumber;
    const std::pair<const char16_t*, QString> more[] = {
        {u"--composer", mNarrator},
        {u"--year", mYear},
        {u"--description", mDescription.left(kShortDescription)},
        {u"--longdesc", mDescription.size() > kShortDescription ? mDescription : QString()},
        {u"--grouping", grouping},
        {u"--stik", mAudiobook ? u"Audiobook"_s : QString()}};
    for (const auto& [option, value] : more) {
        if (!value.isEmpty())
            command += QString::fromUtf16(option) + u' ' + doubleQuoted(value) + u' ';
    }
    return command;
}

void M4bTagger::startTagging(const WorkerReports& reports)
{
    if (nothingToTag()) {
        QFile::copy(mInputPath, mOutputPath);
        reports.end({});
        return;
    }
    mRunner.start({.command = command(),
                   .output = ToolOutput::StdoutStreamed,
                   .tool = "AtomicParsley",
                   .readOutput = [reports](ToolProcess& process) {
                       checkProgressFromStdin(process, reports);
                   },
                   .finished = reports.finished});
}

void M4bTagger::terminateTagging()
{
    mRunner.terminate();
}

void M4bTagger::checkProgressFromStdin(ToolProcess& process, const WorkerReports& reports)
{
    TaggerProgress parser;
    const auto tell = [&reports](const auto& report) {
        if (report)
            reports.tell(report->value, 100, report->description);
    };
    for (QByteArray chunk = process.readChunk(); !chunk.isEmpty(); chunk = process.readChunk())
        tell(parser.feed(chunk));
    tell(parser.finish());
}
