#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

struct TaggerReport
{
    double value = 0;
    QString description;
};

// Reads AtomicParsley's progress ("Progress: ===>  57% ---|") from its standard
// output: the newest percentage in a chunk, the number between ">" and "%".
class TaggerProgress
{
public:
    [[nodiscard]] static std::optional<TaggerReport> parse(const QByteArray& chunk);
};
