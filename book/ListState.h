#pragma once

#include "ItemRecord.h"

#include <QList>
#include <QString>
#include <optional>

// What the user can change in the list: the order of its records and each
// one's title and chapters. Undo and Redo put such a state back; what the
// files' own details say stays as it was read.
struct ListState
{
    struct Edits
    {
        QString title;
        std::optional<QList<ChapterMark>> chapters;
        QList<ChapterMark> proposals;
        friend bool operator==(const Edits&, const Edits&) = default;
    };
    ItemList order;
    QList<Edits> edits;

    [[nodiscard]] static ListState of(const ItemList& records);
    // The records in this state's order, each with its edits put back.
    void restore(ItemList& records) const;
    friend bool operator==(const ListState&, const ListState&) = default;
};
