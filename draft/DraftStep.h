#pragma once

#include "BookTag.h"
#include "ItemRecord.h"

#include <QList>
#include <utility>
#include <variant>

// One change to a draft, which knows how to be made again and taken back:
// files inserted or removed at a row, the files put in another order, the
// edits of some files changed, or the tags. Each keeps only what it changed.
namespace DraftStep {

struct Insert
{
    int row = 0;
    ItemList records;
};
struct Remove
{
    int row = 0;
    ItemList records;
};
// A new order of the files; where follow is false, the rows keep their
// numbers rather than their records (a file moved is a new record).
struct Rearrange
{
    ItemList before;
    ItemList after;
    bool follow = true;
};
struct Change
{
    struct Of
    {
        ItemRecordPtr record;
        ItemRecord::Edits before;
        ItemRecord::Edits after;
    };
    QList<Of> records;
};
struct Tags
{
    BookTag before;
    BookTag after;
};

using Step = std::variant<Insert, Remove, Rearrange, Change, Tags>;

} // namespace DraftStep
