#include "LineBuffer.h"

#include <utility>

QList<QByteArray> LineBuffer::feed(const QByteArray& chunk)
{
    mPending += chunk;
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < mPending.size(); ++i) {
        if (mPending.at(i) != '\r' && mPending.at(i) != '\n')
            continue;
        lines.append(mPending.mid(start, i - start));
        start = i + 1;
    }
    mPending.remove(0, start);
    return lines;
}

std::optional<QByteArray> LineBuffer::finish()
{
    QByteArray rest = std::exchange(mPending, {});
    if (rest.isEmpty())
        return std::nullopt;
    return rest;
}
