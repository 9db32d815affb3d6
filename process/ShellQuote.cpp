#include "ShellQuote.h"

using namespace Qt::Literals::StringLiterals;

QString ShellQuote::single(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', u"'\\''"_s);
    return u'\'' + quoted + u'\'';
}

QString ShellQuote::insideDouble(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == u'$' || c == u'`' || c == u'\\' || c == u'"')
            escaped += u'\\';
        escaped += c;
    }
    return escaped;
}
