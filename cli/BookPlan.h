#pragma once

#include "MakeOptions.h"
#include "RunRequest.h"

#include <QString>
#include <QStringList>
#include <optional>

// One book as fablewick-make will make it: its files read, ordered and
// titled, its chapters and tags, and where it goes.
struct BookPlan
{
    RunRequest request;
    QString output;
    // What was found out on the way, for the user: where its details came from.
    QStringList notes;

    // Why a plan could not be made, and whether the arguments were at fault.
    struct Problem
    {
        QString text;
        bool usage = false;
    };
    [[nodiscard]] static std::optional<BookPlan> make(const MakeOptions& options,
                                                      const QStringList& inputs,
                                                      const QString& output, const QString& name,
                                                      Problem& problem);
    // The files that arguments name: files as they are, folders expanded.
    [[nodiscard]] static QStringList expand(const QStringList& inputs, Problem& problem);

    // The plan in words, for --dry-run.
    [[nodiscard]] QString text() const;
};
