#pragma once

#include "AacCopier.h"
#include "RunStep.h"

// The sources' AAC frames copied into "m4a.m4a" as they are, with no encoder.
class CopyStep final : public RunStep
{
public:
    [[nodiscard]] RunState state() const override { return RunState::Copying; }
    [[nodiscard]] QString during() const override;
    void startWorker(RunWork& run, const QString& folder, const QString& input,
               Reports reports) override;
    void halt() override { mCopier.terminate(); }
    // Each record takes the place that its frames have in the book.
    [[nodiscard]] QString settle(RunWork& run) override;
    [[nodiscard]] QString output() const override { return mFolder + QStringLiteral("/m4a.m4a"); }

private:
    QString mFolder;
    AacCopier mCopier;
};
