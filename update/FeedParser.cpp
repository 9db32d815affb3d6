#include "FeedParser.h"

#include <QXmlStreamReader>

using namespace Qt::Literals::StringLiterals;

void FeedParser::parse(const QByteArray& data, const Events& events)
{
    QXmlStreamReader xml(data);
    xml.setNamespaceProcessing(false);
    Info info;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.qualifiedName() == u"update") {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (attributes.size() == 1) {
                const QString name = attributes.at(0).qualifiedName().toString();
                for (const QString& key : {u"app"_s, u"time"_s, u"build"_s, u"url"_s}) {
                    if (name == key) {
                        info.insert(key, attributes.at(0).value().toString());
                        break;
                    }
                }
            } else if (attributes.size() == 2) {
                // A pair needs both its key and its value; anything else says nothing.
                if (attributes.hasAttribute(u"id"_s) && attributes.hasAttribute(u"desc"_s))
                    info.insert(attributes.value(u"id"_s).toString(),
                                attributes.value(u"desc"_s).toString());
            } else if (attributes.size() >= 3) {
                xml.raiseError(u"an update element has %1 attributes"_s.arg(attributes.size()));
            }
        } else if (xml.isEndElement() && xml.qualifiedName() == u"envelope") {
            if (events.envelopeEnded)
                events.envelopeEnded(info);
        }
    }
    if (xml.hasError() && events.failed)
        events.failed(info, u"%1 (line %2)"_s.arg(xml.errorString()).arg(xml.lineNumber()));
}
