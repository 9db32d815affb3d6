#pragma once

#include "M4bTagger.h"
#include "RunStep.h"

// The AAC book's tags and cover written by AtomicParsley, into
// "m4a-tagged.m4a" or "m4b-tagged.m4b".
class TagsStep final : public RunStep, private M4bTaggerDelegate
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Tagging; }
    [[nodiscard]] QString during() const override;
    // After chapters are written, Stop stays offered; a standard book's tags are let finish.
    [[nodiscard]] bool offersStop() const override { return mBookmark; }
    void start(RunRequest& run, const QString& folder, const QString& input,
               Reports reports) override;
    void stop() override { mTagger.terminateTagging(); }
    [[nodiscard]] QString output() const override { return mOutput; }

private:
    void M4bTaggerProgress(double value, const QString& description) override;
    void M4bTaggerDidFinish(M4bTagger* tagger, std::exception_ptr convertException) override;

    Reports mReports;
    QString mOutput;
    bool mBookmark = false;
    M4bTagger mTagger;
};
