#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// Collects a tool's output, which arrives in chunks cut anywhere, into lines.
// A line ends at \r (tools redraw their progress that way) or at \n.
class LineBuffer
{
public:
    // The lines that this chunk completes, without their ends.
    [[nodiscard]] QList<QByteArray> feed(const QByteArray& chunk);
    // The unfinished line left when the stream ends, if any.
    [[nodiscard]] std::optional<QByteArray> finish();

private:
    QByteArray mPending;
};
