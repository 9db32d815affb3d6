#include "ListState.h"

ListState ListState::of(const ItemList& records)
{
    ListState state;
    state.order = records;
    state.edits.reserve(records.size());
    for (const ItemRecordPtr& record : records)
        state.edits.append({record->titleColumn, record->editedChapters, record->proposals});
    return state;
}

void ListState::restore(ItemList& records) const
{
    records = order;
    for (qsizetype i = 0; i < order.size() && i < edits.size(); ++i) {
        ItemRecord& record = *order.at(i);
        record.titleColumn = edits.at(i).title;
        record.editedChapters = edits.at(i).chapters;
        record.proposals = edits.at(i).proposals;
    }
}
