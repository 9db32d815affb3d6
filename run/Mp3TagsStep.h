#pragma once

#include "Mp3BookTagger.h"
#include "RunStep.h"

// An MP3 book's own tag, with its chapters, before the joined frames, in
// "mp3-tagged.mp3".
class Mp3TagsStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Tagging; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mTagger.terminateTagging(); }
    [[nodiscard]] QString output() const override { return mOutput; }

private:
    QString mOutput;
    Mp3BookTagger mTagger;
};
