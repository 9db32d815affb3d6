#pragma once

#include "BookTag.h"

#include <QString>
#include <span>

class QCommandLineOption;
class QCommandLineParser;

// The tag options that fablewick-make and fablewick-book share: one for
// each field of the tag sheet, by the same names in both.
namespace TagOptions {

struct Option
{
    const char16_t* name;
    QString BookTag::*field;
    const char16_t* what;
};

[[nodiscard]] std::span<const Option> all();
// The option of that name ("title", "series-number"); none for others.
[[nodiscard]] const Option* named(const QString& name);
[[nodiscard]] QList<QCommandLineOption> options();
void addTo(QCommandLineParser& parser);
// The fields given, the others empty; given tells which were.
[[nodiscard]] BookTag read(const QCommandLineParser& parser, QList<const Option*>* given = nullptr);

} // namespace TagOptions
