#pragma once

#include "MakeOptions.h"
#include "ProgressPrinter.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class BookMaker;

// A watched folder: a book is made of each folder of audio that appears
// under the root once its files have not changed for the settling time,
// into the output folder, one at a time. A record in the output folder
// keeps what was made or failed of which files, so that a restart makes
// nothing twice and a failed book is tried again only once its folder
// changes. Sources are only read.
class Watcher final : public QObject
{
    Q_OBJECT
public:
    Watcher(MakeOptions options, ProgressPrinter& printer, QObject* parent = nullptr);
    ~Watcher() override;
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    void start();
    // A book being made stops, and what it wrote goes.
    void stop();

    // What a folder's files are now: their names, sizes and times, in one value.
    [[nodiscard]] static QString signatureOf(const QString& folder);
    // The record's file in the output folder.
    [[nodiscard]] static QString recordPath(const QString& outDir);

Q_SIGNALS:
    void finished(int exitCode);

private:
    struct Seen
    {
        QString signature;
        qint64 since = 0;
    };
    struct Done
    {
        QString signature;
        bool made = false;
    };
    void look();
    void make(const QString& folder, const QString& signature);
    void loadRecord();
    void saveRecord() const;

    MakeOptions mOptions;
    ProgressPrinter& mPrinter;
    QTimer mTimer;
    QHash<QString, Seen> mSeen;
    QHash<QString, Done> mDone;
    std::unique_ptr<BookMaker> mMaker;
    QString mMaking;
    QString mMakingSignature;
};
