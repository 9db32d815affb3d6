#include "SilenceSearch.h"

#include <QThread>
#include <algorithm>

SilenceSearch::SilenceSearch(QList<SilenceFinder::Source> sources,
                             SilenceFinder::Settings settings, QObject* parent)
    : Job(parent), mSources(std::move(sources)), mSettings(settings)
{
}

SilenceSearch::~SilenceSearch()
{
    mFinder.stop();
}

void SilenceSearch::begin()
{
    mFinder.start(mSources, mSettings, std::max(1, QThread::idealThreadCount()), reports());
}

void SilenceSearch::halt()
{
    mFinder.stop();
}
