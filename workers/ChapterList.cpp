#include "ChapterList.h"

#include "LeadingNumber.h"

using namespace Qt::Literals::StringLiterals;

QString ChapterList::escaped(const QString& title)
{
    QString text = title;
    text.replace(u'&', u"&amp;"_s);
    text.replace(u'<', u"&lt;"_s);
    text.replace(u'>', u"&gt;"_s);
    return text;
}

QByteArray ChapterList::xml(const ItemList& records)
{
    QString text = u"<?xml version=\"1.0\" encoding=\"utf-8\"?><chapters version=\"1\">"_s;
    qint64 minutes = 0;
    qint64 seconds = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i > 0) {
            const ItemRecord& previous = *records.at(i - 1);
            minutes += leadingIntValue(previous.mins.value_or(QString()));
            seconds += leadingIntValue(previous.secs.value_or(QString()));
        }
        text += u"<chapter starttime=\"%1:%2\"><title>%3</title></chapter>"_s.arg(minutes)
                    .arg(seconds)
                    .arg(escaped(records.at(i)->titleColumn));
    }
    text += u"</chapters>"_s;
    return text.toUtf8();
}
