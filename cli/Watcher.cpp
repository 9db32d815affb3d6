#include "Watcher.h"

#include "BookMaker.h"
#include "Shelf.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

Watcher::Watcher(MakeOptions options, ProgressPrinter& printer, QObject* parent)
    : QObject(parent), mOptions(std::move(options)), mPrinter(printer)
{
    // Each book is made once; one already in the output folder is left as it is.
    mOptions.skipExisting = true;
    mOptions.replace = false;
    // Looked at often enough to see a folder settle on time, and seldom enough to cost nothing.
    mTimer.setInterval(static_cast<int>(std::clamp(mOptions.settle * 250.0, 100.0, 5000.0)));
    connect(&mTimer, &QTimer::timeout, this, [this] { look(); });
}

Watcher::~Watcher() = default;

QString Watcher::recordPath(const QString& outDir)
{
    return QDir(outDir).absoluteFilePath(u".fablewick-watch.json"_s);
}

QString Watcher::signatureOf(const QString& folder)
{
    QStringList entries;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        entries << u"%1\t%2\t%3"_s.arg(file.filePath())
                       .arg(file.size())
                       .arg(file.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return QString::fromLatin1(
        QCryptographicHash::hash(entries.join(u'\n').toUtf8(), QCryptographicHash::Sha256).toHex());
}

void Watcher::loadRecord()
{
    QFile file(recordPath(mOptions.outDir));
    if (!file.open(QIODevice::ReadOnly) || file.size() > (16 << 20))
        return;
    const QJsonObject books = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = books.begin(); it != books.end(); ++it) {
        const QJsonObject book = it->toObject();
        mDone.insert(it.key(), {.signature = book[u"files"_s].toString(),
                                .made = book[u"made"_s].toBool()});
    }
}

void Watcher::saveRecord() const
{
    QJsonObject books;
    for (auto it = mDone.begin(); it != mDone.end(); ++it)
        books.insert(it.key(), QJsonObject{{u"files"_s, it->signature}, {u"made"_s, it->made}});
    QSaveFile file(recordPath(mOptions.outDir));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(books).toJson()) < 0 || !file.commit())
        mPrinter.failed(u"The record of the books made cannot be written to %1: %2."_s.arg(
            file.fileName(), file.errorString()));
}

void Watcher::start()
{
    QDir().mkpath(mOptions.outDir);
    loadRecord();
    std::printf("Watching %s for books, into %s\n", qPrintable(mOptions.watch),
                qPrintable(mOptions.outDir));
    std::fflush(stdout);
    look();
    mTimer.start();
}

void Watcher::stop()
{
    mTimer.stop();
    if (mMaker)
        mMaker->stop();
    else
        Q_EMIT finished(0);
}

void Watcher::look()
{
    if (mMaker)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const auto settle = static_cast<qint64>(mOptions.settle * 1000.0);
    for (const QString& folder : Shelf::booksUnder(mOptions.watch, mOptions.outDir)) {
        const QString signature = signatureOf(folder);
        Seen& seen = mSeen[folder];
        if (seen.signature != signature) {
            seen = {.signature = signature, .since = now};
            continue;
        }
        const auto done = mDone.constFind(folder);
        if (done != mDone.constEnd() && done->signature == signature)
            continue;
        if (now - seen.since >= settle) {
            make(folder, signature);
            return;
        }
    }
}

void Watcher::make(const QString& folder, const QString& signature)
{
    mMaking = folder;
    mMakingSignature = signature;
    mPrinter.begin(QFileInfo(folder).fileName());
    const QList<BookMaker::Book> books{
        {.inputs = {folder}, .output = {}, .name = QFileInfo(folder).fileName()}};
    mMaker = std::make_unique<BookMaker>(mOptions, books, mPrinter);
    connect(mMaker.get(), &BookMaker::finished, this, [this](int code) {
        mMaker.release()->deleteLater();
        // Stopped, the book is neither made nor failed: it is made after a restart.
        if (!mTimer.isActive()) {
            Q_EMIT finished(0);
            return;
        }
        // A folder changed while its book was made is made again once it settles.
        if (signatureOf(mMaking) == mMakingSignature) {
            mDone.insert(mMaking, {.signature = mMakingSignature, .made = code == 0});
            saveRecord();
        }
        look();
    });
    mMaker->start();
}
