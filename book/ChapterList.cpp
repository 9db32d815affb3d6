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

QString ChapterList::bookTime(double seconds)
{
    const qint64 ms = std::llround(std::max(seconds, 0.0) * 1000.0);
    return u"%1:%2:%3.%4"_s.arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char(u'0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char(u'0'))
        .arg(ms % 1000, 3, 10, QLatin1Char(u'0'));
}

std::optional<std::pair<qsizetype, double>> ChapterList::located(const QList<double>& lengths,
                                                                 double seconds)
{
    double start = 0;
    for (qsizetype i = 0; i < lengths.size(); ++i) {
        if (seconds >= start && seconds < start + lengths.at(i))
            return std::pair{i, std::round((seconds - start) * 1000.0) / 1000.0};
        start += lengths.at(i);
    }
    return std::nullopt;
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

QList<ChapterList::Placed> ChapterList::placed(const ItemList& records,
                                              const QList<double>& fileStarts,
                                              const QList<double>& audioStarts,
                                              const QList<double>& lengths)
{
    QList<Placed> chapters;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const ItemRecord& record = *records.at(i);
        QList<ChapterMark> starts = record.chapterStarts();
        // The book starts with a chapter, whatever its first file says.
        if (i == 0 && (starts.isEmpty() || starts.first().start > 0))
            starts.prepend(ChapterMark{});
        for (const ChapterMark& mark : std::as_const(starts)) {
            const double length = lengths.value(i);
            if (mark.start < 0 || (length > 0 && mark.start >= length))
                continue;
            const double start =
                mark.start == 0 ? fileStarts.value(i) : audioStarts.value(i) + mark.start;
            // A file without a known length still starts its chapter.
            if (mark.start > 0 && !chapters.isEmpty() && start <= chapters.last().start)
                continue;
            QString title = mark.title;
            if (title.isEmpty())
                title = mark.start == 0 ? record.titleColumn
                                        : u"Chapter %1"_s.arg(chapters.size() + 1);
            chapters.append({.record = i, .offset = mark.start, .start = start, .title = title});
        }
    }
    if (!chapters.isEmpty())
        chapters.first().start = 0;
    return chapters;
}

namespace {

// How long each record plays, as far as the list knows: 0 when it does not.
QList<double> recordLengths(const ItemList& records, bool exact, bool joined)
{
    QList<double> lengths;
    for (const ItemRecordPtr& record : records) {
        if (exact && joined)
            lengths << static_cast<double>(record->exact->joinedSamples - record->exact->joinedLeadIn) /
                           record->exact->sampleRate;
        else if (exact)
            lengths << record->exact->seconds() - record->exact->leadInSeconds();
        else
            lengths << record->lengthColumn.value_or(0);
    }
    return lengths;
}

} // namespace

QList<BookTag::Chapter> ChapterList::mp3Chapters(const ItemList& records)
{
    const bool exact = hasExactLengths(records);
    QList<double> starts;
    QList<double> audioStarts;
    double total = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const ItemRecord& record = *records.at(i);
        if (exact) {
            const double rate = record.exact->sampleRate;
            const double audio = total + static_cast<double>(record.exact->joinedLeadIn) / rate;
            starts << (i == 0 ? 0.0 : audio);
            audioStarts << audio;
            total += static_cast<double>(record.exact->joinedSamples) / rate;
        } else {
            starts << total;
            audioStarts << total;
            total += leadingIntValue(record.mins.value_or(QString())) * 60.0 +
                     leadingIntValue(record.secs.value_or(QString()));
        }
    }
    QList<BookTag::Chapter> chapters;
    const auto ms = [](double seconds) {
        return static_cast<quint32>(std::llround(std::max(seconds, 0.0) * 1000.0));
    };
    for (const Placed& chapter :
         placed(records, starts, audioStarts, recordLengths(records, exact, true))) {
        if (!chapters.isEmpty())
            chapters.last().endMs = ms(chapter.start);
        chapters.append({.title = chapter.title, .startMs = ms(chapter.start), .endMs = ms(total)});
    }
    return chapters;
}

QByteArray ChapterList::xml(const ItemList& records)
{
    QString text = u"<?xml version=\"1.0\" encoding=\"utf-8\"?><chapters version=\"1\">"_s;
    // Measured lengths add up exactly; whole minutes and seconds would drift.
    const bool exact = hasExactLengths(records);
    QList<double> starts;
    QList<double> audioStarts;
    // Without measured lengths, a file's start is written as its minutes
    // and seconds summed apart, so that seconds may pass 59.
    QStringList summedTimes;
    if (exact) {
        starts = startSeconds(records);
        for (qsizetype i = 0; i < records.size(); ++i)
            audioStarts << (i == 0 ? records.at(i)->exact->leadInSeconds() : starts.at(i));
    } else {
        qint64 minutes = 0;
        qint64 seconds = 0;
        for (qsizetype i = 0; i < records.size(); ++i) {
            if (i > 0) {
                const ItemRecord& previous = *records.at(i - 1);
                minutes += leadingIntValue(previous.mins.value_or(QString()));
                seconds += leadingIntValue(previous.secs.value_or(QString()));
            }
            summedTimes << u"%1:%2"_s.arg(minutes).arg(seconds);
            starts << static_cast<double>(minutes * 60 + seconds);
        }
        audioStarts = starts;
    }
    for (const Placed& chapter :
         placed(records, starts, audioStarts, recordLengths(records, exact, false))) {
        const QString time = !exact && chapter.offset == 0 ? summedTimes.at(chapter.record)
                                                           : startTime(chapter.start);
        text += u"<chapter starttime=\"%1\"><title>%2</title></chapter>"_s.arg(time,
                                                                                escaped(chapter.title));
    }
    text += u"</chapters>"_s;
    return text.toUtf8();
}
