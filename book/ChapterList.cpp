#include "ChapterList.h"

#include "LeadingNumber.h"

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

QString ChapterList::escaped(const QString& title)
{
    QString text = title;
    // XML 1.0 has no way to write a control character, even escaped, and a
    // lone surrogate is no character at all: either would make the whole
    // list unreadable, so each stands as a space.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool control = c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
        const bool pairStart = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                               QChar::isLowSurrogate(text.at(i + 1).unicode());
        if (pairStart) {
            ++i;
            continue;
        }
        if (control || QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF)
            text[i] = u' ';
    }
    text.replace(u'&', u"&amp;"_s);
    text.replace(u'<', u"&lt;"_s);
    text.replace(u'>', u"&gt;"_s);
    return text;
}

QString ChapterList::startTime(double seconds)
{
    const qint64 ms = std::llround(std::max(seconds, 0.0) * 1000.0);
    const qint64 minutes = ms / 60000;
    const qint64 rest = ms % 60000;
    if (rest % 1000 == 0)
        return u"%1:%2"_s.arg(minutes).arg(rest / 1000);
    return u"%1:%2.%3"_s.arg(minutes).arg(rest / 1000).arg(rest % 1000, 3, 10, QLatin1Char(u'0'));
}

bool ChapterList::hasExactLengths(const ItemList& records)
{
    return std::all_of(records.begin(), records.end(),
                       [](const ItemRecordPtr& r) { return r->exact.has_value(); });
}

QList<double> ChapterList::startSeconds(const ItemList& records)
{
    const bool exact = hasExactLengths(records);
    QList<double> starts;
    double start = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const ItemRecord& record = *records.at(i);
        // A file that does not say how long its encoder delays the audio
        // starts its chapter where that audio usually starts.
        starts << (i == 0 || !exact ? start : start + record.exact->leadInSeconds());
        start += exact ? record.exact->seconds()
                       : leadingIntValue(record.mins.value_or(QString())) * 60.0 +
                             leadingIntValue(record.secs.value_or(QString()));
    }
    return starts;
}

QList<std::pair<double, QString>> ChapterList::chaptersOf(const ItemRecord& record, double start,
                                                         bool exact)
{
    if (!exact || record.innerChapters.isEmpty())
        return {{start, record.titleColumn}};
    QList<std::pair<double, QString>> chapters;
    for (qsizetype k = 0; k < record.innerChapters.size(); ++k) {
        const ItemRecord::InnerChapter& inner = record.innerChapters.at(k);
        // The file's first chapter starts where the file does.
        const double at = k == 0 ? start : start + inner.start;
        chapters.append({at, inner.title.isEmpty() ? record.titleColumn : inner.title});
    }
    return chapters;
}

QList<BookTag::Chapter> ChapterList::mp3Chapters(const ItemList& records)
{
    const bool exact = hasExactLengths(records);
    QList<double> starts;
    double total = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const ItemRecord& record = *records.at(i);
        if (exact) {
            const double rate = record.exact->sampleRate;
            starts << (i == 0 ? 0.0 : total + static_cast<double>(record.exact->joinedLeadIn) / rate);
            total += static_cast<double>(record.exact->joinedSamples) / rate;
        } else {
            starts << total;
            total += leadingIntValue(record.mins.value_or(QString())) * 60.0 +
                     leadingIntValue(record.secs.value_or(QString()));
        }
    }
    QList<BookTag::Chapter> chapters;
    const auto ms = [](double seconds) {
        return static_cast<quint32>(std::llround(std::max(seconds, 0.0) * 1000.0));
    };
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i > 0 && records.at(i)->continuesChapter) {
            continue;
        }
        for (const auto& [start, title] : chaptersOf(*records.at(i), starts.at(i), exact)) {
            if (!chapters.isEmpty())
                chapters.last().endMs = ms(start);
            chapters.append({.title = title, .startMs = ms(start), .endMs = ms(total)});
        }
    }
    return chapters;
}

QByteArray ChapterList::xml(const ItemList& records)
{
    QString text = u"<?xml version=\"1.0\" encoding=\"utf-8\"?><chapters version=\"1\">"_s;
    // Measured lengths add up exactly; whole minutes and seconds would drift.
    const bool exact = hasExactLengths(records);
    const QList<double> starts = exact ? startSeconds(records) : QList<double>();
    qint64 minutes = 0;
    qint64 seconds = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        QString time;
        if (exact) {
            time = startTime(starts.at(i));
        } else {
            if (i > 0) {
                const ItemRecord& previous = *records.at(i - 1);
                minutes += leadingIntValue(previous.mins.value_or(QString()));
                seconds += leadingIntValue(previous.secs.value_or(QString()));
            }
            time = u"%1:%2"_s.arg(minutes).arg(seconds);
        }
        // A file that continues the chapter above adds none of its own.
        if (i > 0 && records.at(i)->continuesChapter)
            continue;
        if (exact) {
            for (const auto& [start, title] : chaptersOf(*records.at(i), starts.at(i), exact))
                text += u"<chapter starttime=\"%1\"><title>%2</title></chapter>"_s.arg(
                    startTime(start), escaped(title));
            continue;
        }
        text += u"<chapter starttime=\"%1\"><title>%2</title></chapter>"_s.arg(
            time, escaped(records.at(i)->titleColumn));
    }
    text += u"</chapters>"_s;
    return text.toUtf8();
}
