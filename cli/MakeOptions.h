#pragma once

#include "RunRequest.h"

#include <QString>
#include <QStringList>
#include <optional>

// What fablewick-make was asked to do, from its arguments.
struct MakeOptions
{
    enum class Order
    {
        Given,
        Track,
        Path,
    };
    enum class Titles
    {
        FileNames,
        Tags,
    };
    enum class Progress
    {
        // A bar on a terminal, plain lines otherwise.
        Auto,
        Json,
    };

    // --help and --version are answered, and nothing is made.
    enum class Asked
    {
        Book,
        Help,
        Version,
    };
    Asked asked = Asked::Book;
    QStringList inputs;
    QString output;
    std::optional<BookFormat> format;
    // The window's defaults.
    QString bitRate = QStringLiteral("64k");
    QString sampleRate = QStringLiteral("44100");
    bool mono = true;
    // Only what was given; the rest comes from the files' tags.
    BookTag tags;
    QString cover;
    Order order = Order::Given;
    Titles titles = Titles::FileNames;
    QString chapters;
    int encoders = 0;
    EvenVolume evenVolume = EvenVolume::Off;
    bool dryRun = false;
    Progress progress = Progress::Auto;
    bool replace = false;
    // A shelf: one book for each folder of audio under each, into outDir.
    QString each;
    QString outDir;
    bool skipExisting = false;
    // Tags from the catalogues, where the book has none of its own.
    bool details = false;
    // With outDir: the folders of each book, named from its tags.
    QString layout;
    // A watched folder: a book of each folder of audio that settles under it.
    QString watch;
    double settle = 60;

    // The options, or why they cannot be taken in words (usage errors).
    [[nodiscard]] static std::optional<MakeOptions> parse(const QStringList& arguments,
                                                          QString& error);
    [[nodiscard]] static QString help();
};
