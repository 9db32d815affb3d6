#include "ChapterXml.h"

#include <QStringList>
#include <QXmlStreamReader>
#include <cmath>
#include <optional>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;

namespace {

[[noreturn]] void fail(const QString& why)
{
    throw std::runtime_error(why.toStdString());
}

// No book is a million minutes long; a larger number would not fit the
// milliseconds it stands for.
constexpr qint64 kMostMinutes = 1'000'000;

std::optional<qint64> startOf(const QString& text)
{
    const QStringList parts = text.split(u':');
    if (parts.size() != 2)
        return std::nullopt;
    bool minutesOk = false;
    bool secondsOk = false;
    const qint64 minutes = parts[0].trimmed().toLongLong(&minutesOk);
    // Whole seconds, or seconds with a fraction ("5.250").
    const QString secondsText = parts[1].trimmed();
    const double seconds = secondsText.toDouble(&secondsOk);
    if (!minutesOk || !secondsOk || minutes < 0 || minutes > kMostMinutes || !(seconds >= 0) ||
        seconds > 60.0 * kMostMinutes || secondsText.contains(u'e', Qt::CaseInsensitive) ||
        secondsText.startsWith(u'+'))
        return std::nullopt;
    return minutes * 60000 + std::llround(seconds * 1000.0);
}

} // namespace

std::vector<Chapter> ChapterXml::read(QIODevice& list)
{
    QXmlStreamReader xml(&list);
    std::vector<Chapter> chapters;
    bool sawRoot = false;
    while (xml.readNextStartElement()) {
        if (!sawRoot) {
            if (xml.name() != u"chapters")
                fail(u"is not a chapter list: its root is <%1>"_s.arg(xml.name()));
            sawRoot = true;
            continue;
        }
        if (xml.name() != u"chapter") {
            xml.skipCurrentElement();
            continue;
        }
        const QString start = xml.attributes().value(u"starttime"_s).toString();
        const auto startMs = startOf(start);
        if (!startMs)
            fail(u"has a chapter with the start time \"%1\", not minutes:seconds"_s.arg(start));
        Chapter chapter{.startMs = *startMs, .title = {}};
        while (xml.readNextStartElement()) {
            if (xml.name() == u"title")
                chapter.title = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            else
                xml.skipCurrentElement();
        }
        // A title is one line.
        chapter.title.replace(u'\n', u' ').replace(u'\r', u' ');
        chapters.push_back(chapter);
    }
    if (xml.hasError())
        fail(u"is not well-formed: %1 (line %2)"_s.arg(xml.errorString()).arg(xml.lineNumber()));
    if (!sawRoot)
        fail(u"is empty"_s);
    return chapters;
}
