#include "Layout.h"

#include <QRegularExpression>
#include <QStringList>

using namespace Qt::Literals::StringLiterals;

namespace Layout {

namespace {

const QRegularExpression& fieldPattern()
{
    static const QRegularExpression field(u"\\{([a-z]+)\\}"_s);
    return field;
}

std::optional<QString> fieldValue(const QString& name, const BookTag& tags)
{
    if (name == u"author"_s)
        return tags.artist.isEmpty() ? tags.albumArtist : tags.artist;
    if (name == u"narrator"_s)
        return tags.narrator;
    if (name == u"series"_s)
        return tags.series;
    if (name == u"number"_s)
        return tags.seriesNumber;
    if (name == u"title"_s)
        return tags.title.isEmpty() ? tags.album : tags.title;
    if (name == u"year"_s)
        return tags.year.left(4);
    return std::nullopt;
}

// The longest start of text that takes at most bytes of UTF-8, cut between characters.
QString within(QString text, qsizetype bytes)
{
    while (text.toUtf8().size() > bytes) {
        text.chop(1);
        if (!text.isEmpty() && text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

QString trimmed(QString name)
{
    name = name.trimmed();
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    return name;
}

} // namespace

QString problemWith(const QString& pattern)
{
    if (pattern.trimmed().isEmpty())
        return u"--layout is a pattern of folders such as \"{author}/{series}/{title}\"."_s;
    auto fields = fieldPattern().globalMatch(pattern);
    while (fields.hasNext()) {
        const QString name = fields.next().captured(1);
        if (!fieldValue(name, {}))
            return u"--layout knows {author}, {narrator}, {series}, {number}, {title} and "
                   "{year}, not {%1}."_s.arg(name);
    }
    return {};
}

QString safeName(const QString& name)
{
    QString safe;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\')
            safe += u'-';
        else if (c == u':')
            safe += u" -"_s;
        else if (QStringView(u"*?\"<>|").contains(c))
            safe += u'_';
        else if (c.category() == QChar::Other_Control || c == QChar(0x7F))
            safe += u' ';
        else
            safe += c;
    }
    safe = trimmed(within(trimmed(safe.simplified()), 255));
    return safe == u"."_s || safe == u".."_s ? QString() : safe;
}

QString foldersFor(const QString& pattern, const BookTag& tags)
{
    QStringList folders;
    for (const QString& part : pattern.split(u'/', Qt::SkipEmptyParts)) {
        QString folder;
        bool filled = false;
        bool hasFields = false;
        qsizetype last = 0;
        auto fields = fieldPattern().globalMatch(part);
        while (fields.hasNext()) {
            const QRegularExpressionMatch field = fields.next();
            hasFields = true;
            const QString value = fieldValue(field.captured(1), tags).value_or(QString());
            filled = filled || !value.trimmed().isEmpty();
            folder += part.mid(last, field.capturedStart() - last) + value;
            last = field.capturedEnd();
        }
        folder += part.mid(last);
        if (hasFields && !filled)
            continue;
        if (const QString safe = safeName(folder); !safe.isEmpty())
            folders << safe;
    }
    return folders.join(u'/');
}

} // namespace Layout
