#pragma once

#include "LineBuffer.h"

#include <QByteArray>
#include <QString>
#include <optional>

struct TaggerReport
{
    double value = 0;
    QString description;
};

// Reads AtomicParsley's progress ("Progress: ===>  57% ---|") from its standard
// output, line by line however the output is cut. Each chunk yields at most
// one report: the newest progress line it completes.
class TaggerProgress
{
public:
    [[nodiscard]] std::optional<TaggerReport> feed(const QByteArray& chunk);
    // What is left when the stream ends.
    [[nodiscard]] std::optional<TaggerReport> finish();

    // One line's report: the number between the last ">" and the "%" after it.
    [[nodiscard]] static std::optional<TaggerReport> parseLine(const QByteArray& line);

private:
    LineBuffer mLines;
};
