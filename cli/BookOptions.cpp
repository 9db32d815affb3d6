#include "BookOptions.h"

#include "ChapterFile.h"
#include "TagOptions.h"

#include <QCommandLineParser>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

struct VerbName
{
    const char16_t* name;
    BookOptions::Verb verb;
    const char16_t* what;
};

const VerbName kVerbs[] = {
    {u"info", BookOptions::Verb::Info,
     u"Shows the book's format, length, audio, tags, cover and chapters, and whether it can be "
     "written again."},
    {u"tag", BookOptions::Verb::Tag,
     u"Sets or removes tags and the cover, as Save Book writes them: without an encode, "
     "keeping everything else."},
    {u"chapters", BookOptions::Verb::Chapters,
     u"Exports, imports, shifts, retitles, finds by silence or splits the book's chapters, and "
     "writes the book as Save Book does."},
    {u"split", BookOptions::Verb::Split,
     u"Makes a file of each chapter, as Split into Chapters does."},
};

// A time in seconds, "h:mm:ss.mmm" or "m:ss" or "ss", and signed where a
// shift may go either way.
std::optional<double> timeOf(QString text, bool signedTime)
{
    text = text.trimmed();
    double sign = 1;
    if (signedTime && (text.startsWith(u'-') || text.startsWith(u'+'))) {
        sign = text.startsWith(u'-') ? -1 : 1;
        text.remove(0, 1);
    }
    const std::optional<double> time = ChapterFile::parsedTime(text);
    if (!time || !std::isfinite(*time))
        return std::nullopt;
    return sign * *time;
}

// The options of a verb besides --json and --help.
QList<QCommandLineOption> verbOptions(BookOptions::Verb verb)
{
    switch (verb) {
    case BookOptions::Verb::Info:
        return {};
    case BookOptions::Verb::Tag:
        return TagOptions::options() +
               QList<QCommandLineOption>{
                   {u"cover"_s, u"An image for the book's cover."_s, u"IMAGE"_s},
                   {u"remove-cover"_s, u"The book has no cover."_s},
                   {u"details"_s,
                    u"Fill the empty tags and the cover from Open Library and Google Books, "
                    "when one book matches the title and author."_s},
                   {u"clear"_s, u"Empties a tag, by its option's name (title, narrator, \u2026)."_s,
                    u"FIELD"_s},
                   {{u"o"_s, u"output"_s},
                    u"Write a new book here and leave the book as it is."_s,
                    u"FILE"_s},
                   {u"dry-run"_s, u"Print the tags that would be written, and write nothing."_s},
               };
    case BookOptions::Verb::Chapters:
        return {
            {u"export"_s, u"Write the chapters to a chapters.txt, .ffmetadata or .cue file."_s,
             u"FILE"_s},
            {u"import"_s, u"Take the chapters of a chapters.txt, ffmetadata or CUE file."_s,
             u"FILE"_s},
            {u"shift"_s, u"Move chapters later (or earlier, with a minus) by a time."_s, u"TIME"_s},
            {u"after"_s, u"With --shift, move only the chapters after chapter N."_s, u"N"_s},
            {u"retitle"_s, u"Retitle chapter N; the title follows the book."_s, u"N"_s},
            {u"find-silence"_s, u"Propose chapters where the speech pauses, and print them."_s},
            {u"take"_s, u"With --find-silence, make the proposals the book's chapters."_s},
            {u"silence"_s, u"The shortest pause, in seconds (2 by default)."_s, u"S"_s},
            {u"level"_s, u"The level of silence, in dB (-35 by default)."_s, u"DB"_s},
            {u"shortest"_s, u"The shortest chapter proposed, in seconds (120 by default)."_s,
             u"S"_s},
            {u"split-longer-than"_s, u"Cut chapters longer than TIME at the pauses nearest."_s,
             u"TIME"_s},
            {{u"o"_s, u"output"_s},
             u"Write a new book here and leave the book as it is."_s,
             u"FILE"_s},
            {u"dry-run"_s, u"Print the chapters that would be written, and write nothing."_s},
        };
    case BookOptions::Verb::Split:
        return {
            {u"out"_s, u"The folder for the chapters' files (made if it is not there)."_s,
             u"DIR"_s},
            {u"as"_s,
             u"m4a or mp3: the files' kind; the book's own by default, the other one encoded."_s,
             u"KIND"_s},
            {u"bitrate"_s,
             u"The bit rate of encoded files, such as 64k (the book's own by "
             "default)."_s,
             u"RATE"_s},
        };
    }
    return {};
}

void describe(QCommandLineParser& parser, BookOptions::Verb verb)
{
    for (const VerbName& v : kVerbs) {
        if (v.verb == verb)
            parser.setApplicationDescription(QString::fromUtf16(v.what));
    }
    parser.addPositionalArgument(u"book"_s, u"The book: an .m4b, .m4a or .mp3 file."_s, u"BOOK"_s);
    parser.addOption({u"json"_s, u"Tell the result as one JSON object."_s});
    parser.addOptions(verbOptions(verb));
    parser.addHelpOption();
}

} // namespace

std::optional<BookOptions::Verb> BookOptions::verbNamed(const QString& name)
{
    for (const VerbName& v : kVerbs) {
        if (name == QString::fromUtf16(v.name))
            return v.verb;
    }
    return std::nullopt;
}

QString BookOptions::help(Verb verb)
{
    QCommandLineParser parser;
    describe(parser, verb);
    // Qt names the program by its path and puts the options first.
    QString text = parser.helpText();
    const qsizetype end = text.indexOf(u'\n');
    for (const VerbName& v : kVerbs) {
        if (v.verb == verb)
            text.replace(
                0, end,
                u"Usage: fablewick-book %1 BOOK [options]"_s.arg(QString::fromUtf16(v.name)));
    }
    return text;
}

QString BookOptions::usage()
{
    QString text = u"Usage: fablewick-book VERB BOOK [options]\n\n"
                   "Does to a finished audiobook what the Fablewick window does.\n\nVerbs:\n"_s;
    for (const VerbName& v : kVerbs)
        text += u"  %1  %2\n"_s.arg(QString::fromUtf16(v.name), -9).arg(QString::fromUtf16(v.what));
    text += u"  make      Makes a book from audio files: fablewick-make's options.\n\n"
            "fablewick-book VERB --help tells a verb's options.\n"_s;
    return text;
}

std::optional<BookOptions> BookOptions::parse(const QStringList& arguments, QString& error)
{
    const auto fail = [&error](const QString& why) {
        error = why;
        return std::nullopt;
    };
    const std::optional<Verb> verb = verbNamed(arguments.value(1));
    if (!verb)
        return fail(arguments.size() < 2 ? u"Give a verb: info, tag, chapters, split or make."_s
                                         : u"\u201C%1\u201D is no verb: give info, tag, chapters, "
                                           "split or make."_s.arg(arguments.value(1)));
    QCommandLineParser parser;
    describe(parser, *verb);
    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return fail(parser.errorText());
    BookOptions options;
    options.verb = *verb;
    if (parser.isSet(u"help"_s)) {
        options.helpAsked = true;
        return options;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(u"Give the book to work on."_s);
    options.book = positional.takeFirst();
    options.json = parser.isSet(u"json"_s);
    // Only the verb's own options are asked after.
    QStringList defined;
    for (const QCommandLineOption& option : verbOptions(*verb))
        defined += option.names();
    const auto has = [&parser, &defined](const QString& name) {
        return defined.contains(name) && parser.isSet(name);
    };
    if (has(u"output"_s))
        options.output = parser.value(u"output"_s);
    options.dryRun = has(u"dry-run"_s);

    if (*verb == Verb::Tag) {
        QList<const TagOptions::Option*> given;
        options.tags = TagOptions::read(parser, &given);
        for (const TagOptions::Option* option : given)
            options.setFields << QString::fromUtf16(option->name);
        for (const QString& field : parser.values(u"clear"_s)) {
            if (!TagOptions::named(field) && field != u"cover"_s)
                return fail(u"--clear names a tag by its option, such as title or narrator, "
                            "not \u201C%1\u201D."_s.arg(field));
            if (field == u"cover"_s)
                options.removeCover = true;
            else
                options.clearFields << field;
        }
        options.cover = parser.value(u"cover"_s);
        options.removeCover = options.removeCover || has(u"remove-cover"_s);
        options.details = has(u"details"_s);
        if (!options.cover.isEmpty() && options.removeCover)
            return fail(u"Give --cover or --remove-cover, not both."_s);
        if (options.setFields.isEmpty() && options.clearFields.isEmpty() &&
            options.cover.isEmpty() && !options.removeCover && !options.details)
            return fail(u"Give the tags to set, --clear FIELD, --cover IMAGE, --remove-cover or "
                        "--details."_s);
    }

    if (*verb == Verb::Chapters) {
        options.exportTo = parser.value(u"export"_s);
        options.importFrom = parser.value(u"import"_s);
        if (has(u"shift"_s)) {
            options.shift = timeOf(parser.value(u"shift"_s), true);
            if (!options.shift)
                return fail(u"--shift is a time such as 1.5, -0:00:02.250 or 1:30."_s);
        }
        if (has(u"after"_s)) {
            bool number = false;
            options.shiftAfter = parser.value(u"after"_s).toInt(&number);
            if (!number || options.shiftAfter < 1 || !options.shift)
                return fail(u"--after is a chapter's number, from 1, with --shift."_s);
        }
        if (has(u"retitle"_s)) {
            bool number = false;
            options.retitleNumber = parser.value(u"retitle"_s).toInt(&number);
            if (!number || options.retitleNumber < 1 || positional.isEmpty())
                return fail(u"--retitle is a chapter's number, from 1, then its new title."_s);
            options.retitleTitle = positional.takeFirst().trimmed();
            if (options.retitleTitle.isEmpty())
                return fail(u"A chapter's title cannot be empty."_s);
        }
        options.findSilence = has(u"find-silence"_s);
        options.take = has(u"take"_s);
        if (options.take && !options.findSilence)
            return fail(u"--take takes what --find-silence proposes: give both."_s);
        const auto number = [&](const QString& name, double& value, double low, double high) {
            if (!has(name))
                return true;
            bool ok = false;
            const double given = parser.value(name).toDouble(&ok);
            if (!ok || given < low || given > high)
                return false;
            value = given;
            return true;
        };
        if (!number(u"silence"_s, options.silence.shortest, 0.1, 60))
            return fail(u"--silence is the shortest pause in seconds, from 0.1 to 60."_s);
        if (!number(u"level"_s, options.silence.levelDb, -90, -1))
            return fail(u"--level is the level of silence in dB, from -90 to -1."_s);
        if (!number(u"shortest"_s, options.shortestChapter, 0, 36000))
            return fail(u"--shortest is the shortest chapter in seconds."_s);
        if (has(u"split-longer-than"_s)) {
            options.splitLongerThan = timeOf(parser.value(u"split-longer-than"_s), false);
            if (!options.splitLongerThan || *options.splitLongerThan < 10)
                return fail(u"--split-longer-than is a time of 10 s or more, such as 30:00."_s);
        }
        if (options.findSilence && options.splitLongerThan)
            return fail(u"Give --find-silence or --split-longer-than, not both."_s);
        if (!options.editsChapters() && options.exportTo.isEmpty() && !options.findSilence)
            return fail(u"Give what to do to the chapters: --export, --import, --shift, "
                        "--retitle, --find-silence or --split-longer-than."_s);
    }

    if (*verb == Verb::Split) {
        options.outDir = parser.value(u"out"_s);
        if (options.outDir.isEmpty())
            return fail(u"Give --out DIR, the folder for the chapters' files."_s);
        if (has(u"as"_s)) {
            const QString as = parser.value(u"as"_s).toLower();
            if (as == u"mp3"_s)
                options.as = BookFormat::Mp3;
            else if (as == u"m4a"_s)
                options.as = BookFormat::AacStandard;
            else
                return fail(u"--as is m4a or mp3."_s);
        }
        if (has(u"bitrate"_s)) {
            QString rate = parser.value(u"bitrate"_s);
            rate.remove(u'k');
            bool number = false;
            options.kbps = rate.toInt(&number);
            if (!number || options.kbps < 8 || options.kbps > 320)
                return fail(u"--bitrate is a rate from 8k to 320k."_s);
        }
    }
    if (!positional.isEmpty())
        return fail(u"\u201C%1\u201D is more than this verb takes: give one book."_s.arg(
            positional.first()));
    return options;
}
