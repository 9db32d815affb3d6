#pragma once

#include "RunStep.h"
#include "chapterWriter.h"

// The chapters written into the AAC book by ChapterTool, as "m4b.m4b".
class ChaptersStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::WritingChapters; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mWriter.terminateChapter(); }
    [[nodiscard]] QString output() const override { return mFolder + QStringLiteral("/m4b.m4b"); }

private:
    QString mFolder;
    chapterWriter mWriter;
};
