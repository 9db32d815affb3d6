#include "TaggerProgress.h"

using namespace Qt::Literals::StringLiterals;

std::optional<TaggerReport> TaggerProgress::parseLine(const QByteArray& line)
{
    for (const char c : line) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return std::nullopt;
    }
    const QString text = QString::fromLatin1(line);
    for (qsizetype percent = text.lastIndexOf(u'%'); percent > 0;
         percent = text.lastIndexOf(u'%', percent - 1)) {
        const qsizetype arrow = text.lastIndexOf(u'>', percent);
        if (arrow < 0)
            return std::nullopt;
        bool ok = false;
        const double value =
            QStringView(text).mid(arrow + 1, percent - arrow - 1).trimmed().toDouble(&ok);
        if (ok)
            return TaggerReport{.value = value,
                                .description =
                                    u"Creating iTunes tag - %1%"_s.arg(static_cast<int>(value))};
    }
    return std::nullopt;
}

std::optional<TaggerReport> TaggerProgress::feed(const QByteArray& chunk)
{
    const QList<QByteArray> lines = mLines.feed(chunk);
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (auto report = parseLine(lines.at(i)))
            return report;
    }
    return std::nullopt;
}

std::optional<TaggerReport> TaggerProgress::finish()
{
    const auto rest = mLines.finish();
    return rest ? parseLine(*rest) : std::nullopt;
}
