#pragma once

class QMimeData;
class QObject;

// What a drop tells of its drag: where it started (none for a drag from
// outside the application) and what it carries.
struct DraggingInfo
{
    const QObject* draggingSource = nullptr;
    const QMimeData* draggingPasteboard = nullptr;
};

// Drop positions and drag operations, as the table speaks of them.
namespace DropOperation {
constexpr int On = 0;
constexpr int Above = 1;
} // namespace DropOperation
namespace DragOperation {
constexpr int None = 0;
constexpr int Copy = 1;
constexpr int Move = 16;
} // namespace DragOperation
