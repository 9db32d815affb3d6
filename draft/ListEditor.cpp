#include "ListEditor.h"

#include "BookFiles.h"

using namespace Qt::Literals::StringLiterals;
using Edit = DraftBook::Edit;

void ListEditor::remove(int row)
{
    if (row >= 0 && row < mBook.files().size())
        mBook.edit(u"Remove File"_s, [row](Edit& edit) { edit.remove(row, 1); });
}

void ListEditor::clear()
{
    mBook.edit(u"Clear List"_s,
               [](Edit& edit) { edit.remove(0, static_cast<int>(edit.book().files().size())); });
}

void ListEditor::move(int from, int dropRow, const ItemRecord& carried)
{
    ItemList order = mBook.files();
    if (from < 0 || from >= order.size() || dropRow < 0 || dropRow > order.size())
        return;
    order.removeAt(from);
    order.insert(dropRow > from ? dropRow - 1 : dropRow, std::make_shared<ItemRecord>(carried));
    mBook.edit(u"Move File"_s, [&order](Edit& edit) { edit.rearrange(order, false); });
}

void ListEditor::retitle(int row, const QString& title)
{
    if (row < 0 || row >= mBook.files().size())
        return;
    const ItemRecordPtr& record = mBook.files().at(row);
    ItemRecord::Edits edits = record->edits();
    edits.title = title;
    mBook.edit(u"Retitle File"_s, [&](Edit& edit) { edit.change(record, edits); });
}

void ListEditor::sortByTrack()
{
    ItemList order = mBook.files();
    std::stable_sort(order.begin(), order.end(), BookFiles::byTrack);
    mBook.edit(u"Sort by Track"_s, [&order](Edit& edit) { edit.rearrange(order); });
}

void ListEditor::titlesFromTags()
{
    retitleAll(u"Titles from Tags"_s, true);
}

void ListEditor::titlesFromFileNames()
{
    retitleAll(u"Titles from File Names"_s, false);
}

void ListEditor::retitleAll(const QString& change, bool fromTags)
{
    mBook.edit(change, [fromTags](Edit& edit) {
        for (const ItemRecordPtr& record : edit.book().files()) {
            if (fromTags && record->tags.title.isEmpty())
                continue;
            ItemRecord::Edits edits = record->edits();
            edits.title =
                fromTags ? record->tags.title : ItemRecord::titleForPath(record->pathColumn);
            edit.change(record, edits);
        }
    });
}
