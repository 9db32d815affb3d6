#include "MakeOptions.h"

#include "Layout.h"
#include "TagOptions.h"

#include <QCommandLineParser>

using namespace Qt::Literals::StringLiterals;

namespace {

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        u"Makes one audiobook (.m4b, .m4a or .mp3) with chapters, tags and cover from audio "
        "files and folders, as the Fablewick window does."_s);
    parser.addPositionalArgument(u"files"_s, u"Audio files and folders of them, in order."_s,
                                 u"FILE|FOLDER..."_s);
    parser.addOptions({
        {{u"o"_s, u"output"_s}, u"The book to make; its extension picks the format."_s, u"FILE"_s},
        {u"format"_s, u"m4b (the default), m4a or mp3."_s, u"FORMAT"_s},
        {u"bitrate"_s, u"The bit rate, such as 64k (the default), or \"same\"."_s, u"RATE"_s},
        {u"sample-rate"_s, u"44100 (the default), 22050, 48000, or \"same\"."_s, u"HZ"_s},
        {u"channels"_s, u"1 (mono, the default) or 2 (stereo)."_s, u"N"_s},
        {u"cover"_s, u"An image for the cover, instead of the files' own."_s, u"IMAGE"_s},
        {u"order"_s, u"given (the default), track, or path (in natural order)."_s, u"ORDER"_s},
        {u"titles"_s,
         u"Chapter titles from \"names\" of the files (the default) or their \"tags\"."_s,
         u"FROM"_s},
        {u"chapters"_s,
         u"A chapter file (chapters.txt, ffmetadata or CUE) for the book's chapters, in place "
         "of the files' own."_s,
         u"FILE"_s},
        {u"encoders"_s, u"How many encoders run at once (one per core by default)."_s, u"N"_s},
        {u"even-volume"_s,
         u"off (the default), book (one gain for the whole book) or each (every file to "
         "-18 LUFS). Levelling encodes every file."_s,
         u"HOW"_s},
        {u"dry-run"_s, u"Print the plan and make nothing."_s},
        {u"json"_s, u"Progress as one JSON object a line."_s},
        {u"replace"_s, u"Replace a book that is already there."_s},
        {u"each"_s, u"Make one book for each folder of audio under ROOT (with --out)."_s,
         u"ROOT"_s},
        {u"out"_s, u"Where --each and --watch put their books."_s, u"DIR"_s},
        {u"watch"_s,
         u"Make a book of each folder of audio that appears under ROOT, once its files have "
         "settled (with --out); runs until stopped."_s,
         u"ROOT"_s},
        {u"settle"_s,
         u"With --watch, the seconds a folder's files stay unchanged before its "
         "book is made (60 by default)."_s,
         u"S"_s},
        {u"skip-existing"_s, u"With --each, skip books already in DIR."_s},
        {u"details"_s,
         u"Fill the empty tags and the cover from Open Library and Google Books, when one book "
         "matches the title and author."_s},
        {u"layout"_s,
         u"With --out, put each book in folders named from its tags, such as "
         "\"{author}/{series}/{title}\" (fields: author, narrator, series, number, title, "
         "year)."_s,
         u"PATTERN"_s},
    });
    TagOptions::addTo(parser);
    parser.addHelpOption();
    parser.addVersionOption();
}

// The value of an option that names one of a few choices, in any case; false
// when it names none of them. An option not given leaves chosen as it is.
template <typename T>
bool pick(const QCommandLineParser& parser, const QString& name,
          std::initializer_list<std::pair<QStringView, T>> choices, T& chosen)
{
    if (!parser.isSet(name))
        return true;
    const QString value = parser.value(name).toLower();
    for (const auto& [word, choice] : choices) {
        if (value == word) {
            chosen = choice;
            return true;
        }
    }
    return false;
}

} // namespace

QString MakeOptions::help()
{
    QCommandLineParser parser;
    describe(parser);
    return parser.helpText();
}

std::optional<MakeOptions> MakeOptions::parse(const QStringList& arguments, QString& error)
{
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    MakeOptions options;
    // Asked for, they are answered whatever else was given.
    if (parser.isSet(u"help"_s) || parser.isSet(u"version"_s)) {
        options.asked = parser.isSet(u"help"_s) ? Asked::Help : Asked::Version;
        return options;
    }
    const auto fail = [&error](const QString& why) {
        error = why;
        return std::nullopt;
    };
    options.inputs = parser.positionalArguments();
    options.output = parser.value(u"output"_s);
    // Without --format, the output's extension picks it.
    BookFormat format = BookFormat::AacBookmark;
    if (!pick<BookFormat>(parser, u"format"_s,
                          {{u"m4b", BookFormat::AacBookmark},
                           {u"m4a", BookFormat::AacStandard},
                           {u"mp3", BookFormat::Mp3}},
                          format))
        return fail(u"--format is m4b, m4a or mp3, not \u201C%1\u201D."_s.arg(
            parser.value(u"format"_s).toLower()));
    if (parser.isSet(u"format"_s))
        options.format = format;
    const auto rate = [&](const QString& name, QString& value, const QString& unit) {
        if (!parser.isSet(name))
            return true;
        value = parser.value(name);
        if (value.compare(u"same"_s, Qt::CaseInsensitive) == 0) {
            value.clear();
            return true;
        }
        QString digits = value;
        digits.remove(unit);
        bool number = false;
        return digits.toInt(&number) > 0 && number;
    };
    if (!rate(u"bitrate"_s, options.bitRate, u"k"_s))
        return fail(u"--bitrate is a rate such as 64k, or \u201Csame\u201D."_s);
    if (!rate(u"sample-rate"_s, options.sampleRate, QString()))
        return fail(u"--sample-rate is a rate in Hz such as 44100, or \u201Csame\u201D."_s);
    if (parser.isSet(u"channels"_s)) {
        const QString channels = parser.value(u"channels"_s);
        if (channels != u"1"_s && channels != u"2"_s)
            return fail(u"--channels is 1 or 2."_s);
        options.mono = channels == u"1"_s;
    }
    options.tags = TagOptions::read(parser);
    options.cover = parser.value(u"cover"_s);
    if (!pick<Order>(parser, u"order"_s,
                     {{u"given", Order::Given}, {u"track", Order::Track}, {u"path", Order::Path}},
                     options.order))
        return fail(u"--order is given, track or path."_s);
    if (!pick<Titles>(parser, u"titles"_s, {{u"names", Titles::FileNames}, {u"tags", Titles::Tags}},
                      options.titles))
        return fail(u"--titles is names or tags."_s);
    options.chapters = parser.value(u"chapters"_s);
    if (parser.isSet(u"encoders"_s)) {
        bool number = false;
        options.encoders = parser.value(u"encoders"_s).toInt(&number);
        if (!number || options.encoders < 1 || options.encoders > 64)
            return fail(u"--encoders is a number from 1 to 64."_s);
    }
    if (!pick<EvenVolume>(parser, u"even-volume"_s,
                          {{u"off", EvenVolume::Off},
                           {u"book", EvenVolume::WholeBook},
                           {u"each", EvenVolume::EachFile}},
                          options.evenVolume))
        return fail(u"--even-volume is off, book or each."_s);
    options.dryRun = parser.isSet(u"dry-run"_s);
    options.progress = parser.isSet(u"json"_s) ? Progress::Json : Progress::Auto;
    options.replace = parser.isSet(u"replace"_s);
    options.each = parser.value(u"each"_s);
    options.outDir = parser.value(u"out"_s);
    options.skipExisting = parser.isSet(u"skip-existing"_s);
    options.details = parser.isSet(u"details"_s);
    options.layout = parser.value(u"layout"_s);
    if (parser.isSet(u"layout"_s)) {
        if (const QString problem = Layout::problemWith(options.layout); !problem.isEmpty())
            return fail(problem);
        if (options.outDir.isEmpty())
            return fail(u"--layout needs --out DIR, the library's folder."_s);
    }
    options.watch = parser.value(u"watch"_s);
    if (parser.isSet(u"settle"_s)) {
        bool number = false;
        options.settle = parser.value(u"settle"_s).toDouble(&number);
        if (!number || options.settle < 0 || options.settle > 86400 || options.watch.isEmpty())
            return fail(u"--settle is a number of seconds, with --watch."_s);
    }
    if (!options.watch.isEmpty()) {
        if (options.outDir.isEmpty())
            return fail(u"--watch needs --out DIR, the folder for its books."_s);
        if (!options.each.isEmpty() || !options.inputs.isEmpty() || !options.output.isEmpty() ||
            !options.chapters.isEmpty() || options.dryRun)
            return fail(u"--watch makes its own list of files for each book: give no files, "
                        "--each, --output, --chapters or --dry-run with it."_s);
    } else if (!options.each.isEmpty()) {
        if (options.outDir.isEmpty())
            return fail(u"--each needs --out DIR, the folder for its books."_s);
        if (!options.inputs.isEmpty() || !options.output.isEmpty() || !options.chapters.isEmpty())
            return fail(u"--each makes its own list of files for each book: give no files, "
                        "--output or --chapters with it."_s);
    } else if (options.inputs.isEmpty()) {
        return fail(u"Give the audio files or folders to make the book of, --each ROOT or "
                    "--watch ROOT."_s);
    }
    return options;
}
