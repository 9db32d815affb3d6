#include "Hyperlink.h"

using namespace Qt::Literals::StringLiterals;

bool Hyperlink::isWebLink(const QUrl& url)
{
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == u"http"_s || url.scheme() == u"https"_s);
}

QString Hyperlink::hyperlinkFromString(const QString& text, const QUrl& withURL)
{
    if (!isWebLink(withURL))
        return text.toHtmlEscaped();
    const QString href = QString::fromUtf8(withURL.toEncoded()).toHtmlEscaped();
    return u"<a href=\"%1\" style=\"color:#0000ff; text-decoration:underline\">%2</a>"_s.arg(
        href, text.toHtmlEscaped());
}
