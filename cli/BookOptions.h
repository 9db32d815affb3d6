#pragma once

#include "BookFormat.h"
#include "BookTag.h"
#include "SilenceFinder.h"

#include <QString>
#include <QStringList>
#include <optional>

// What fablewick-book was asked to do to a finished book, from its
// arguments: the verb, then the book, then the verb's options.
struct BookOptions
{
    enum class Verb
    {
        Info,
        Tag,
        Chapters,
        Split,
    };
    Verb verb = Verb::Info;
    bool helpAsked = false;
    QString book;
    bool json = false;
    // A new file to write, in place of the book.
    QString output;
    bool dryRun = false;

    // tag: the fields given, by their option names, and those to empty.
    BookTag tags;
    QStringList setFields;
    QStringList clearFields;
    QString cover;
    bool removeCover = false;
    bool details = false;

    // chapters, done in this order when several are asked.
    QString importFrom;
    std::optional<double> shift;
    // The chapter after which the shift starts (1 is the first); 0: all but the first.
    int shiftAfter = 0;
    int retitleNumber = 0;
    QString retitleTitle;
    bool findSilence = false;
    bool take = false;
    SilenceFinder::Settings silence;
    double shortestChapter = 120;
    std::optional<double> splitLongerThan;
    QString exportTo;

    // split
    QString outDir;
    std::optional<BookFormat> as;
    int kbps = 0;

    [[nodiscard]] bool editsChapters() const
    {
        return !importFrom.isEmpty() || shift || retitleNumber > 0 || (findSilence && take) ||
               splitLongerThan;
    }
    // The verbs, by their names on the command line.
    [[nodiscard]] static std::optional<Verb> verbNamed(const QString& name);
    // The options, or why not in words (usage errors). arguments[0] is the
    // program, arguments[1] the verb.
    [[nodiscard]] static std::optional<BookOptions> parse(const QStringList& arguments,
                                                          QString& error);
    [[nodiscard]] static QString help(Verb verb);
    // What the program does, verb by verb.
    [[nodiscard]] static QString usage();
};
