// fablewick-make: makes audiobooks from the command line, as the window does.
#include "BookMaker.h"
#include "MakeOptions.h"
#include "ProgressPrinter.h"
#include "Resources.h"
#include "Shelf.h"
#include "TerminationSignals.h"
#include "Watcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"fablewick-make"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(FABLEWICK_VERSION));
    // The tools are found beside the application from many threads at once;
    // Qt keeps its path unguarded, so it is looked up here first.
    (void)Resources::directory();
    QString error;
    const std::optional<MakeOptions> options = MakeOptions::parse(app.arguments(), error);
    if (!options) {
        std::fprintf(stderr, "fablewick-make: %s\nTry fablewick-make --help.\n",
                     error.toUtf8().constData());
        return 2;
    }

    if (options->asked == MakeOptions::Asked::Help) {
        std::fputs(MakeOptions::help().toUtf8().constData(), stdout);
        return 0;
    }
    if (options->asked == MakeOptions::Asked::Version) {
        std::printf("fablewick-make %s\n", FABLEWICK_VERSION);
        return 0;
    }
    const ProgressPrinter::Style style =
        options->progress == MakeOptions::Progress::Json ? ProgressPrinter::Style::Json
        : ::isatty(STDERR_FILENO) != 0                   ? ProgressPrinter::Style::Bar
                                                         : ProgressPrinter::Style::Lines;
    ProgressPrinter printer(style);
    TerminationSignals signals;
    if (!options->watch.isEmpty()) {
        if (!QFileInfo(options->watch).isDir()) {
            std::fprintf(stderr, "fablewick-make: “%s” is no folder.\n",
                         options->watch.toUtf8().constData());
            return 2;
        }
        Watcher watcher(*options, printer);
        QObject::connect(&signals, &TerminationSignals::arrived, &watcher,
                         [&watcher] { watcher.stop(); });
        QObject::connect(&watcher, &Watcher::finished, &app,
                         [](int code) { QCoreApplication::exit(code); });
        watcher.start();
        return QCoreApplication::exec();
    }
    QList<BookMaker::Book> books;
    if (!options->each.isEmpty()) {
        if (!QFileInfo(options->each).isDir()) {
            std::fprintf(stderr, "fablewick-make: “%s” is no folder.\n",
                         options->each.toUtf8().constData());
            return 2;
        }
        for (const QString& folder : Shelf::booksUnder(options->each, options->outDir))
            books.append({.inputs = {folder}, .output = {}, .name = QFileInfo(folder).fileName()});
    } else {
        const QFileInfo first(options->inputs.first());
        const QString name = first.isDir() ? QDir(first.absoluteFilePath()).dirName()
                                           : first.absoluteDir().dirName();
        books.append({.inputs = options->inputs, .output = options->output, .name = name});
    }
    BookMaker maker(*options, books, printer);
    QObject::connect(&signals, &TerminationSignals::arrived, &maker, [&maker] { maker.stop(); });
    QObject::connect(&maker, &BookMaker::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    maker.start();
    return QCoreApplication::exec();
}
