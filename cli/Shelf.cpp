#include "Shelf.h"

#include "AudioKind.h"
#include "NaturalOrder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

bool holdsAudio(const QDir& folder)
{
    const QFileInfoList files = folder.entryInfoList(QDir::Files | QDir::Readable);
    return std::any_of(files.begin(), files.end(),
                       [](const QFileInfo& file) { return AudioKind::isListed(file.filePath()); });
}

bool isDiscFolder(const QString& name)
{
    static const QRegularExpression disc(u"^(cd|disc|disk|part|teil|volume|vol)[ ._-]*\\d+"_s,
                                         QRegularExpression::CaseInsensitiveOption);
    return disc.match(name).hasMatch();
}

void collect(const QString& path, const QString& skipped, QStringList& books, int depth)
{
    // Links could lead round in circles, and no shelf is this deep.
    constexpr int kDeepest = 16;
    if (depth > kDeepest || path == skipped)
        return;
    const QDir folder(path);
    if (holdsAudio(folder)) {
        books << path;
        return;
    }
    const QStringList subfolders =
        folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable | QDir::NoSymLinks);
    const bool discs =
        !subfolders.isEmpty() &&
        std::all_of(subfolders.begin(), subfolders.end(),
                    [&](const QString& name) {
                        return isDiscFolder(name) || !holdsAudio(QDir(folder.filePath(name)));
                    }) &&
        std::any_of(subfolders.begin(), subfolders.end(), [&](const QString& name) {
            return isDiscFolder(name) && holdsAudio(QDir(folder.filePath(name)));
        });
    if (discs) {
        books << path;
        return;
    }
    for (const QString& name : subfolders)
        collect(folder.filePath(name), skipped, books, depth + 1);
}

} // namespace

QStringList Shelf::booksUnder(const QString& root, const QString& skipped)
{
    QStringList books;
    collect(QFileInfo(root).absoluteFilePath(), QFileInfo(skipped).absoluteFilePath(), books, 0);
    std::sort(books.begin(), books.end(),
              [](const QString& a, const QString& b) { return NaturalOrder::less(a, b); });
    return books;
}
