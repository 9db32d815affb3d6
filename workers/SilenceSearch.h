#pragma once

#include "Job.h"
#include "SilenceFinder.h"

// Find Chapters by Silence as a job: the silences of a book's files, found
// on every core (see SilenceFinder). It tells the seconds searched of the
// whole.
class SilenceSearch final : public Job
{
    Q_OBJECT
public:
    SilenceSearch(QList<SilenceFinder::Source> sources, SilenceFinder::Settings settings,
                  QObject* parent = nullptr);
    ~SilenceSearch() override;

    [[nodiscard]] const SilenceFinder::Settings& settings() const { return mSettings; }
    // Once it has succeeded: the silences of each file, in order.
    [[nodiscard]] const QList<QList<SilenceFinder::Silence>>& silences() const
    {
        return mFinder.silences();
    }

protected:
    void begin() override;
    void halt() override;

private:
    const QList<SilenceFinder::Source> mSources;
    const SilenceFinder::Settings mSettings;
    SilenceFinder mFinder;
};
