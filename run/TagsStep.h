#pragma once

#include "M4bTagger.h"
#include "RunStep.h"

// The AAC book's tags and cover written by AtomicParsley, into
// "m4a-tagged.m4a" or "m4b-tagged.m4b".
class TagsStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Tagging; }
    [[nodiscard]] QString during() const override;
    // After chapters are written, Stop stays offered; a standard book's tags are let finish.
    [[nodiscard]] bool offersStop() const override { return mBookmark; }
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mTagger.terminateTagging(); }
    [[nodiscard]] QString output() const override { return mOutput; }

private:
    QString mOutput;
    bool mBookmark = false;
    M4bTagger mTagger;
};
