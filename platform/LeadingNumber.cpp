#include "LeadingNumber.h"

#include <QString>
#include <limits>

qint32 leadingIntValue(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max())
            return negative ? std::numeric_limits<qint32>::min()
                            : std::numeric_limits<qint32>::max();
    }
    return static_cast<qint32>(negative ? -value : value);
}

float leadingFloatValue(QStringView text)
{
    qsizetype start = 0;
    while (start < text.size() && text.at(start).isSpace())
        ++start;
    qsizetype end = start;
    if (end < text.size() && (text.at(end) == u'-' || text.at(end) == u'+'))
        ++end;
    bool dot = false;
    while (end < text.size() && (text.at(end).isDigit() || (!dot && text.at(end) == u'.'))) {
        dot = dot || text.at(end) == u'.';
        ++end;
    }
    bool ok = false;
    const float value = text.mid(start, end - start).toFloat(&ok);
    return ok ? value : 0.0F;
}
