#pragma once

#include <QObject>

namespace Production {
Q_NAMESPACE

// The states of a production run. The values are those the run has always
// had, so that what is written about a run (or logged) keeps its meaning.
enum class RunState : int
{
    Idle = 0,
    Starting = 10,
    Joining = 20,
    Converting = 30,
    WritingChapters = 40,
    Tagging = 50,
};
Q_ENUM_NS(RunState)

} // namespace Production

using Production::RunState;
