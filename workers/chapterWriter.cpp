#include "chapterWriter.h"

#include "ChapterList.h"
#include "Resources.h"
#include "ShellQuote.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

chapterWriter::~chapterWriter()
{
    terminateChapter();
}

QString chapterWriter::command() const
{
    const QString tool =
        Resources::pathForResource(u"ChapterTool"_s, QString()).value_or(QString());
    return ShellQuote::single(tool) + u" -x "_s +
           ShellQuote::single(mOutputFolder + u"/Chapters.xml"_s) + u" -a "_s +
           ShellQuote::single(mAudioFilePath) + u" -o "_s +
           ShellQuote::single(mOutputFolder + u'/' + mOutputFile + u".m4b"_s);
}

void chapterWriter::startChapter(WorkerReports reports)
{
    QFile list(mOutputFolder + u"/Chapters.xml"_s);
    if (list.open(QIODevice::WriteOnly | QIODevice::Truncate))
        list.write(ChapterList::xml(mViewFiles));
    list.close();
    mRunner.start({.command = command(),
                   .output = ToolOutput::StdoutDiscarded,
                   .tool = "ChapterTool",
                   .readOutput = {},
                   .finished = std::move(reports.finished)});
}

void chapterWriter::terminateChapter()
{
    mRunner.terminate();
}
