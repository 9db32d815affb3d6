#include "ConverterProgress.h"

#include "LeadingNumber.h"

#include <QStringList>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

float ConverterProgress::readTime(QStringView text)
{
    qsizetype end = 0;
    while (end < text.size() && !text.at(end).isSpace())
        ++end;
    const QStringView word = text.left(end);
    if (!word.contains(u':'))
        return leadingFloatValue(text);
    float seconds = 0;
    for (const QStringView part : word.split(u':'))
        seconds = seconds * 60.0F + leadingFloatValue(part);
    return seconds;
}

QString ConverterProgress::describe(float position, qint32 lengthInSeconds)
{
    if (lengthInSeconds == 0)
        return u"Converting to AAC"_s;
    const float percentage = position / static_cast<float>(lengthInSeconds) * 100.0F;
    return u"Converting to AAC - %1%"_s.arg(static_cast<int>(std::trunc(percentage)));
}

std::optional<ConverterReport> ConverterProgress::reportFor(const QByteArray& line) const
{
    for (const char c : line) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return std::nullopt;
    }
    const QString text = QString::fromLatin1(line);
    const qsizetype at = text.indexOf(u"time="_s);
    if (at < 0)
        return std::nullopt;
    QStringView after = QStringView(text).mid(at + 5);
    const qsizetype bit = after.indexOf(u" bit"_s);
    if (bit >= 0)
        after = after.left(bit);
    const float position = readTime(after);
    return ConverterReport{.position = position, .description = describe(position, mLength)};
}

std::optional<ConverterReport> ConverterProgress::feed(const QByteArray& chunk)
{
    for (const QByteArray& line : mLines.feed(chunk)) {
        if (auto report = reportFor(line))
            return report;
    }
    return std::nullopt;
}

std::optional<ConverterReport> ConverterProgress::finish()
{
    const auto rest = mLines.finish();
    return rest ? reportFor(*rest) : std::nullopt;
}
