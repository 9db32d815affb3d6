#pragma once

#include <QString>
#include <QUrl>

// A link as rich text: blue, underlined, showing the text and leading to the
// URL. Only an absolute http or https URL makes a link; anything else gives
// the text alone. The text is escaped, so it never becomes markup.
class Hyperlink
{
public:
    [[nodiscard]] static QString hyperlinkFromString(const QString& text, const QUrl& withURL);
    [[nodiscard]] static bool isWebLink(const QUrl& url);
};
