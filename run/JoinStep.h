#pragma once

#include "Mp3Joiner.h"
#include "RunStep.h"

// The MP3 files' bytes joined with cat into "mp3.mp3".
class JoinStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Joining; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mJoiner.terminateJoin(); }
    [[nodiscard]] QString settle(RunWork& run) override;
    [[nodiscard]] QString output() const override { return mFolder + QStringLiteral("/mp3.mp3"); }

private:
    QString mFolder;
    Mp3Joiner mJoiner;
};
