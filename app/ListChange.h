#pragma once

#include "ListState.h"

#include <QUndoCommand>
#include <functional>

// One change to the list or its chapters, as Undo and Redo see it: the
// state before and after. Changes that carry the same batch number (the
// turns of one addition of many files) are undone as one.
class ListChange final : public QUndoCommand
{
public:
    using Restore = std::function<void(const ListState&)>;

    ListChange(const QString& text, ListState before, ListState after, Restore restore,
               int batch = -1);

    void undo() override;
    void redo() override;
    [[nodiscard]] int id() const override { return mBatch < 0 ? -1 : 1; }
    bool mergeWith(const QUndoCommand* other) override;

private:
    ListState mBefore;
    ListState mAfter;
    Restore mRestore;
    int mBatch;
    // The change is made when it is pushed; only a later Redo makes it again.
    bool mMade = false;
};
