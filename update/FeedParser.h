#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <functional>

// Reads an update feed. What the "update" elements say is stored as it is
// read; the end of "envelope" ends the check, and a parse error fails it
// (after the end of "envelope", too).
class FeedParser
{
public:
    using Info = QMap<QString, QString>;
    struct Events
    {
        // At the end of each "envelope", with everything stored so far.
        std::function<void(const Info& info)> envelopeEnded;
        // When the document cannot be read on, with everything stored so far.
        std::function<void(const Info& info, const QString& error)> failed;
    };
    static void parse(const QByteArray& data, const Events& events);
};
