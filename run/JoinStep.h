#pragma once

#include "Mp3Joiner.h"
#include "RunStep.h"

// The MP3 files' bytes joined with cat into "mp3.mp3".
class JoinStep final : public RunStep, private mp3JoinerDelegate
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Joining; }
    [[nodiscard]] QString during() const override;
    void start(RunRequest& run, const QString& folder, const QString& input,
               Reports reports) override;
    void stop() override { mJoiner.terminateJoin(); }
    [[nodiscard]] QString settle(RunRequest& run) override;
    [[nodiscard]] QString output() const override { return mFolder + QStringLiteral("/mp3.mp3"); }

private:
    void mp3JoinProgress(int index, int totalFiles) override;
    void mp3JoinDidFinish(Mp3Joiner* joiner, std::exception_ptr joinException) override;

    Reports mReports;
    QString mFolder;
    Mp3Joiner mJoiner;
};
