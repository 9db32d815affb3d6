#include "TaggerProgress.h"

using namespace Qt::Literals::StringLiterals;

std::optional<TaggerReport> TaggerProgress::parse(const QByteArray& chunk)
{
    for (const char c : chunk) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return std::nullopt;
    }
    const QString text = QString::fromLatin1(chunk);
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
