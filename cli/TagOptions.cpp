#include "TagOptions.h"

#include <QCommandLineParser>

using namespace Qt::Literals::StringLiterals;

namespace TagOptions {

namespace {
const Option kOptions[] = {
    {u"title", &BookTag::title, u"the book's title"},
    {u"artist", &BookTag::artist, u"the author"},
    {u"album", &BookTag::album, u"the album"},
    {u"album-artist", &BookTag::albumArtist, u"the album artist"},
    {u"narrator", &BookTag::narrator, u"the narrator"},
    {u"year", &BookTag::year, u"the year"},
    {u"series", &BookTag::series, u"the series"},
    {u"series-number", &BookTag::seriesNumber, u"the book's number in its series"},
    {u"comment", &BookTag::comment, u"a comment"},
    {u"description", &BookTag::description, u"the description"},
};
} // namespace

std::span<const Option> all()
{
    return kOptions;
}

const Option* named(const QString& name)
{
    for (const Option& option : kOptions) {
        if (name == QString::fromUtf16(option.name))
            return &option;
    }
    return nullptr;
}

QList<QCommandLineOption> options()
{
    QList<QCommandLineOption> list;
    for (const Option& option : kOptions)
        list.append({QString::fromUtf16(option.name),
                     u"Tag: %1."_s.arg(QString::fromUtf16(option.what)), u"TEXT"_s});
    return list;
}

void addTo(QCommandLineParser& parser)
{
    parser.addOptions(options());
}

BookTag read(const QCommandLineParser& parser, QList<const Option*>* given)
{
    BookTag tags;
    for (const Option& option : kOptions) {
        const QString name = QString::fromUtf16(option.name);
        tags.*option.field = parser.value(name);
        if (given && parser.isSet(name))
            given->append(&option);
    }
    return tags;
}

} // namespace TagOptions
