#pragma once

#include <QString>

// A column of the main table, identified by the item-record key it shows.
struct TableColumn
{
    QString identifier;
    int index = -1;
};
