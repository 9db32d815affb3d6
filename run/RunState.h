#pragma once

#include <QObject>

namespace Production {
Q_NAMESPACE

// The step a production run is in, named for what it does.
enum class RunState : int
{
    Idle = 0,
    // The files are checked and the temporary folder taken.
    Starting = 10,
    // Every file's loudness, for a levelled book.
    Measuring = 15,
    Joining = 20,
    Decoding = 21,
    // The levelled audio checked before it is encoded.
    Levelling = 25,
    Copying = 22,
    Encoding = 30,
    WritingChapters = 40,
    Tagging = 50,
};
Q_ENUM_NS(RunState)

} // namespace Production

using Production::RunState;
