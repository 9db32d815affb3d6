#pragma once

#include <QObject>

namespace Production {
Q_NAMESPACE

// The states of a production run, in the order a run passes through them.
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
