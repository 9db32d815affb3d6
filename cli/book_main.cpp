// fablewick-book: does to a finished audiobook what the Fablewick window
// does, from the command line: info, tag, chapters and split; make is
// fablewick-make.
#include "BookCommand.h"
#include "BookOptions.h"
#include "Resources.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// fablewick-book make … is fablewick-make …, beside this program.
int make(int argc, char* argv[])
{
    const QByteArray program =
        QFile::encodeName(QCoreApplication::applicationDirPath() + u"/fablewick-make"_s);
    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>(program.constData()));
    for (int i = 2; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::execv(program.constData(), arguments.data());
    std::fprintf(stderr, "fablewick-book: fablewick-make cannot be started from %s.\n",
                 program.constData());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"fablewick-book"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(FABLEWICK_VERSION));
    (void)Resources::directory();
    const QStringList arguments = app.arguments();
    const QString verb = arguments.value(1);
    if (verb == u"make"_s)
        return make(argc, argv);
    if (verb == u"--help"_s || verb == u"-h"_s || verb == u"help"_s) {
        std::fputs(BookOptions::usage().toUtf8().constData(), stdout);
        return 0;
    }
    if (verb == u"--version"_s) {
        std::printf("fablewick-book %s\n", FABLEWICK_VERSION);
        return 0;
    }
    QString error;
    const std::optional<BookOptions> options = BookOptions::parse(arguments, error);
    if (!options) {
        const QString more = BookOptions::verbNamed(verb) ? u"fablewick-book %1 --help"_s.arg(verb)
                                                          : u"fablewick-book --help"_s;
        std::fprintf(stderr, "fablewick-book: %s\nTry %s.\n", error.toUtf8().constData(),
                     more.toUtf8().constData());
        return 2;
    }
    if (options->helpAsked) {
        std::fputs(BookOptions::help(options->verb).toUtf8().constData(), stdout);
        return 0;
    }
    BookCommand command(*options);
    TerminationSignals signals;
    QObject::connect(&signals, &TerminationSignals::arrived, &command,
                     [&command] { command.stop(); });
    return command.run();
}
