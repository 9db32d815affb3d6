#pragma once

#include "DraftStep.h"

#include <QUndoCommand>
#include <vector>

class DraftBook;

// One edit of a draft as Undo and Redo see it: its steps, made when it was
// pushed, taken back in the reverse order, and made again in order. Edits
// that carry the same batch (the turns of one addition of many files) are
// undone as one.
class DraftEdit final : public QUndoCommand
{
public:
    DraftEdit(DraftBook& book, const QString& name, std::vector<DraftStep::Step> steps, int batch);

    void undo() override;
    void redo() override;
    [[nodiscard]] int id() const override { return mBatch < 0 ? -1 : 1; }
    bool mergeWith(const QUndoCommand* other) override;

private:
    DraftBook& mBook;
    std::vector<DraftStep::Step> mSteps;
    int mBatch;
    bool mChapters;
    // The edit is made as it is pushed; only a later Redo makes it again.
    bool mMade = true;
};
