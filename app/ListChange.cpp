#include "ListChange.h"

ListChange::ListChange(const QString& text, ListState before, ListState after, Restore restore,
                       int batch)
    : QUndoCommand(text), mBefore(std::move(before)), mAfter(std::move(after)),
      mRestore(std::move(restore)), mBatch(batch)
{
}

void ListChange::undo()
{
    mRestore(mBefore);
}

void ListChange::redo()
{
    if (mMade)
        mRestore(mAfter);
    mMade = true;
}

bool ListChange::mergeWith(const QUndoCommand* other)
{
    const auto* next = dynamic_cast<const ListChange*>(other);
    if (!next || next->mBatch != mBatch)
        return false;
    mAfter = next->mAfter;
    return true;
}
