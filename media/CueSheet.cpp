#include "CueSheet.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringConverter>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

// No real sheet is larger; a folder with more than this many is no rip's.
constexpr qint64 kLargestSheet = 1 << 20;
constexpr int kMostSheets = 16;

// The rest of a line after its keyword: a quoted string, or its first word.
QString argument(const QString& rest)
{
    const QString trimmed = rest.trimmed();
    if (trimmed.startsWith(u'"')) {
        const qsizetype end = trimmed.indexOf(u'"', 1);
        return trimmed.mid(1, end < 0 ? -1 : end - 1);
    }
    return trimmed.section(u' ', 0, 0);
}

bool names(const QString& fileInSheet, const QString& fileName)
{
    const QString sheetName = QFileInfo(fileInSheet).fileName();
    return sheetName.compare(fileName, Qt::CaseInsensitive) == 0 ||
           QFileInfo(sheetName).completeBaseName().compare(QFileInfo(fileName).completeBaseName(),
                                                           Qt::CaseInsensitive) == 0;
}

} // namespace

QString CueSheet::decodedText(const QByteArray& bytes)
{
    auto utf8 = QStringDecoder(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
    return QString::fromLatin1(bytes);
}

ChapterMarks CueSheet::marksFor(const QByteArray& sheet, const QString& fileName)
{
    return tracks(sheet, [&fileName](const QString& inSheet) { return names(inSheet, fileName); });
}

ChapterMarks CueSheet::allMarks(const QByteArray& sheet)
{
    return tracks(sheet, [](const QString&) { return true; });
}

ChapterMarks CueSheet::tracks(const QByteArray& sheet,
                              const std::function<bool(const QString&)>& fileMatches)
{
    static const QRegularExpression time(u"^(\\d{1,6}):(\\d{1,2}):(\\d{1,2})$"_s);
    ChapterMarks marks;
    bool inFile = false;
    bool inTrack = false;
    QString title;
    for (const QString& raw : decodedText(sheet).split(u'\n')) {
        const QString line = raw.trimmed();
        const QString keyword = line.section(u' ', 0, 0).toUpper();
        const QString rest = line.section(u' ', 1);
        if (keyword == u"FILE"_s) {
            inFile = fileMatches(argument(rest));
            inTrack = false;
        } else if (keyword == u"TRACK"_s) {
            inTrack = inFile;
            title.clear();
        } else if (keyword == u"TITLE"_s && inTrack) {
            title = argument(rest);
        } else if (keyword == u"INDEX"_s && inTrack && argument(rest) == u"01"_s) {
            const QRegularExpressionMatch at =
                time.match(rest.trimmed().section(u' ', 1).trimmed());
            if (!at.hasMatch())
                continue;
            const double frames = at.captured(3).toDouble();
            marks.append(
                {.start = at.captured(1).toDouble() * 60 + at.captured(2).toDouble() + frames / 75,
                 .title = title});
            inTrack = false;
        }
    }
    return marks;
}

namespace {

// The sheets in a folder, listed once while the folder stays as it is: a
// folder of a thousand files is otherwise listed a thousand times.
QStringList sheetsIn(const QDir& folder)
{
    struct Listing
    {
        QDateTime modified;
        QStringList sheets;
    };
    static std::mutex mutex;
    static QHash<QString, Listing> listings;
    const QString path = folder.absolutePath();
    const QDateTime modified = QFileInfo(path).lastModified();
    {
        std::lock_guard lock(mutex);
        const auto found = listings.constFind(path);
        if (found != listings.constEnd() && found->modified == modified)
            return found->sheets;
    }
    QStringList sheets;
    for (const QFileInfo& sheet : folder.entryInfoList({u"*.cue"_s, u"*.CUE"_s},
                                                       QDir::Files | QDir::Readable, QDir::Name))
        sheets << sheet.filePath();
    std::lock_guard lock(mutex);
    listings.insert(path, {modified, sheets});
    return sheets;
}

} // namespace

ChapterMarks CueSheet::marksBeside(const QString& audioPath)
{
    const QFileInfo audio(audioPath);
    const QStringList sheets = sheetsIn(audio.dir());
    for (qsizetype i = 0; i < sheets.size() && i < kMostSheets; ++i) {
        QFile file(sheets.at(i));
        if (file.size() > kLargestSheet || !file.open(QIODevice::ReadOnly))
            continue;
        ChapterMarks marks = marksFor(file.readAll(), audio.fileName());
        if (!marks.isEmpty())
            return marks;
    }
    return {};
}
