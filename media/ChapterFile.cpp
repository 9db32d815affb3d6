#include "ChapterFile.h"

#include "CueSheet.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// No book runs longer than this many hours; larger times are no times.
constexpr double kLongestHours = 100000;

QString clock(double seconds)
{
    const auto ms = static_cast<qint64>(std::llround(std::max(seconds, 0.0) * 1000));
    return u"%1:%2:%3.%4"_s.arg(ms / 3600000, 2, 10, QLatin1Char(u'0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char(u'0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char(u'0'))
        .arg(ms % 1000, 3, 10, QLatin1Char(u'0'));
}

ChapterMarks chaptersTxt(const QString& text)
{
    ChapterMarks chapters;
    for (const QString& raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype space = line.indexOf(u' ');
        const QString time = space < 0 ? line : line.left(space);
        if (const auto start = time.contains(u':') ? ChapterFile::parsedTime(time) : std::nullopt)
            chapters.append(
                {.start = *start, .title = space < 0 ? QString() : line.mid(space + 1).trimmed()});
    }
    return chapters;
}

// ffmetadata escapes '=', ';', '#', '\' and line ends with a backslash.
QString unescaped(const QString& value)
{
    QString plain;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == u'\\' && i + 1 < value.size())
            ++i;
        plain += value.at(i);
    }
    return plain;
}

QString escaped(const QString& value)
{
    QString text;
    for (const QChar c : value) {
        if (c == u'=' || c == u';' || c == u'#' || c == u'\\' || c == u'\n')
            text += u'\\';
        text += c == u'\r' ? u' ' : c;
    }
    return text;
}

ChapterMarks ffMetadata(const QString& text)
{
    struct Block
    {
        double numerator = 1;
        double denominator = 1e9; // without TIMEBASE, ffmpeg counts nanoseconds
        std::optional<double> start;
        QString title;
    };
    ChapterMarks chapters;
    std::optional<Block> block;
    const auto close = [&] {
        if (block && block->start) {
            const double seconds = *block->start * block->numerator / block->denominator;
            if (std::isfinite(seconds) && seconds >= 0 && seconds <= kLongestHours * 3600)
                chapters.append(
                    {.start = std::round(seconds * 1000) / 1000, .title = block->title});
        }
        block.reset();
    };
    // A value may run on over lines whose ends are escaped.
    QStringList lines;
    for (const QString& raw : text.split(u'\n')) {
        if (!lines.isEmpty() && lines.constLast().endsWith(u'\\') &&
            !lines.constLast().endsWith(u"\\\\"_s))
            lines.last() = lines.constLast().chopped(1) + u"\\\n"_s + raw;
        else
            lines << raw;
    }
    for (const QString& raw : std::as_const(lines)) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[')) {
            close();
            if (line.compare(u"[CHAPTER]"_s, Qt::CaseInsensitive) == 0)
                block = Block{};
            continue;
        }
        if (!block || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        const QString key = line.section(u'=', 0, 0).trimmed();
        const QString value = line.section(u'=', 1);
        bool ok = false;
        if (key.compare(u"TIMEBASE"_s, Qt::CaseInsensitive) == 0) {
            const double numerator = value.section(u'/', 0, 0).toDouble(&ok);
            bool denominatorOk = false;
            const double denominator = value.section(u'/', 1).toDouble(&denominatorOk);
            if (ok && denominatorOk && numerator > 0 && denominator > 0) {
                block->numerator = numerator;
                block->denominator = denominator;
            }
        } else if (key.compare(u"START"_s, Qt::CaseInsensitive) == 0) {
            const qlonglong start = value.trimmed().toLongLong(&ok);
            if (ok && start >= 0)
                block->start = static_cast<double>(start);
        } else if (key.compare(u"title"_s, Qt::CaseInsensitive) == 0) {
            block->title = unescaped(value).trimmed();
        }
    }
    close();
    return chapters;
}

QString cueText(const QString& title)
{
    QString text = title;
    text.replace(u'"', u'\'');
    text.replace(u'\n', u' ');
    return text;
}

} // namespace

ChapterFile::Kind ChapterFile::kindForName(const QString& name)
{
    if (name.endsWith(u".cue"_s, Qt::CaseInsensitive))
        return Kind::Cue;
    if (name.endsWith(u".ffmetadata"_s, Qt::CaseInsensitive) ||
        name.endsWith(u".meta"_s, Qt::CaseInsensitive))
        return Kind::FfMetadata;
    return Kind::ChaptersTxt;
}

std::optional<double> ChapterFile::parsedTime(const QString& text)
{
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() > 3)
        return std::nullopt;
    double seconds = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i == parts.size() - 1;
        bool ok = false;
        const double value = last ? parts.at(i).toDouble(&ok) : parts.at(i).toUInt(&ok);
        // Only the first part may run past 59, and only the last has a fraction.
        if (!ok || !std::isfinite(value) || value < 0 || (i > 0 && value >= 60) ||
            parts.at(i).contains(u'e', Qt::CaseInsensitive))
            return std::nullopt;
        seconds = seconds * 60 + value;
    }
    if (seconds > kLongestHours * 3600)
        return std::nullopt;
    return std::round(seconds * 1000) / 1000;
}

ChapterFile::Kind ChapterFile::kindOf(const QString& name, const QByteArray& bytes)
{
    if (bytes.trimmed().startsWith(";FFMETADATA"))
        return Kind::FfMetadata;
    if (name.endsWith(u".cue"_s, Qt::CaseInsensitive))
        return Kind::Cue;
    return Kind::ChaptersTxt;
}

ChapterMarks ChapterFile::read(const QByteArray& bytes, Kind kind)
{
    switch (kind) {
    case Kind::ChaptersTxt:
        return chaptersTxt(CueSheet::decodedText(bytes));
    case Kind::FfMetadata:
        return ffMetadata(CueSheet::decodedText(bytes));
    case Kind::Cue:
        return CueSheet::allMarks(bytes);
    }
    return {};
}

QByteArray ChapterFile::written(const ChapterMarks& chapters, Kind kind, double length,
                                const QString& title)
{
    QString text;
    const auto ms = [](double seconds) { return std::llround(std::max(seconds, 0.0) * 1000); };
    switch (kind) {
    case Kind::ChaptersTxt:
        for (const ChapterMark& chapter : chapters)
            text +=
                clock(chapter.start) + u' ' + QString(chapter.title).replace(u'\n', u' ') + u'\n';
        break;
    case Kind::FfMetadata:
        text = u";FFMETADATA1\ntitle="_s + escaped(title) + u'\n';
        for (qsizetype i = 0; i < chapters.size(); ++i) {
            const double end = i + 1 < chapters.size() ? chapters.at(i + 1).start : length;
            text += u"[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=%3\n"_s
                        .arg(ms(chapters.at(i).start))
                        .arg(ms(std::max(end, chapters.at(i).start)))
                        .arg(escaped(chapters.at(i).title));
        }
        break;
    case Kind::Cue:
        text = u"TITLE \"%1\"\nFILE \"%1.m4b\" MP4\n"_s.arg(cueText(title));
        for (qsizetype i = 0; i < chapters.size(); ++i) {
            // A CUE sheet counts 75 frames a second.
            const qint64 frames = std::llround(std::max(chapters.at(i).start, 0.0) * 75);
            text += u"  TRACK %1 AUDIO\n    TITLE \"%2\"\n    INDEX 01 %3:%4:%5\n"_s
                        .arg(i + 1, 2, 10, QLatin1Char(u'0'))
                        .arg(cueText(chapters.at(i).title))
                        .arg(frames / 75 / 60, 2, 10, QLatin1Char(u'0'))
                        .arg(frames / 75 % 60, 2, 10, QLatin1Char(u'0'))
                        .arg(frames % 75, 2, 10, QLatin1Char(u'0'));
        }
        break;
    }
    return text.toUtf8();
}

QString ChapterFile::problemWith(const ChapterMarks& chapters, double length)
{
    for (qsizetype i = 0; i < chapters.size(); ++i) {
        const ChapterMark& chapter = chapters.at(i);
        const QString named = chapter.title.isEmpty()
                                  ? u"Chapter %1"_s.arg(i + 1)
                                  : u"Chapter %1, \u201C%2\u201D,"_s.arg(i + 1).arg(chapter.title);
        if (length > 0 && chapter.start >= length)
            return u"%1 starts at %2, past the book's end at %3."_s.arg(named, clock(chapter.start),
                                                                        clock(length));
        if (i > 0 && chapter.start <= chapters.at(i - 1).start)
            return u"%1 starts at %2, not after the chapter before it, at %3."_s.arg(
                named, clock(chapter.start), clock(chapters.at(i - 1).start));
    }
    return {};
}
