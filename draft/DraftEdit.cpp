#include "DraftEdit.h"

#include "DraftBook.h"

#include <algorithm>

namespace {
bool touchesChapters(const std::vector<DraftStep::Step>& steps)
{
    return std::any_of(steps.begin(), steps.end(), [](const DraftStep::Step& step) {
        return !std::holds_alternative<DraftStep::Tags>(step);
    });
}
} // namespace

DraftEdit::DraftEdit(DraftBook& book, const QString& name, std::vector<DraftStep::Step> steps,
                     int batch)
    : QUndoCommand(name), mBook(book), mSteps(std::move(steps)), mBatch(batch),
      mChapters(touchesChapters(mSteps))
{
}

void DraftEdit::undo()
{
    for (auto step = mSteps.size(); step-- > 0;)
        mBook.apply(mSteps[step], false);
    mBook.settled(mChapters);
}

void DraftEdit::redo()
{
    if (std::exchange(mMade, false))
        return;
    for (const DraftStep::Step& step : mSteps)
        mBook.apply(step, true);
    mBook.settled(mChapters);
}

bool DraftEdit::mergeWith(const QUndoCommand* other)
{
    const auto* next = dynamic_cast<const DraftEdit*>(other);
    if (!next || next->mBatch != mBatch || &next->mBook != &mBook)
        return false;
    mSteps.insert(mSteps.end(), next->mSteps.begin(), next->mSteps.end());
    mChapters = mChapters || next->mChapters;
    return true;
}
