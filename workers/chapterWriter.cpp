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

void chapterWriter::startChapter()
{
    chapterTool.arm();
    QFile list(mOutputFolder + u"/Chapters.xml"_s);
    if (list.open(QIODevice::WriteOnly | QIODevice::Truncate))
        list.write(ChapterList::xml(mViewFiles));
    list.close();
    mThread.start([this, command = command()] { runChapterTool(command); });
}

void chapterWriter::terminateChapter()
{
    chapterTool.terminateIfRunning();
}

void chapterWriter::runChapterTool(const QString& command)
{
    std::exception_ptr failure;
    try {
        auto process = std::make_shared<ToolProcess>(command);
        chapterTool.hold(process);
        process->launch(ToolOutput::StdoutDiscarded);
        process->waitUntilExit();
        chapterTool.checkEnd(*process, "ChapterTool");
    } catch (const std::exception&) {
        failure = std::current_exception();
    }
    chapterTool.release();
    if (mDelegate)
        mDelegate->chapterWriterDidFinish(this, failure);
}
