#pragma once

#include "RunStep.h"
#include "chapterWriter.h"

// The chapters written into the AAC book by ChapterTool, as "m4b.m4b".
class ChaptersStep final : public RunStep, private chapterWriterDelegate
{
public:
    [[nodiscard]] RunState state() const override { return RunState::WritingChapters; }
    [[nodiscard]] QString during() const override;
    void start(RunRequest& run, const QString& folder, const QString& input,
               Reports reports) override;
    void stop() override { mWriter.terminateChapter(); }
    [[nodiscard]] QString output() const override { return mFolder + QStringLiteral("/m4b.m4b"); }

private:
    void chapterWriterProgress(int /*index*/, int /*totalFiles*/) override {}
    void chapterWriterDidFinish(chapterWriter* writer, std::exception_ptr writeException) override;

    Reports mReports;
    QString mFolder;
    chapterWriter mWriter;
};
