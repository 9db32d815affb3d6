#pragma once

#include "BookOptions.h"
#include "ChapterEditor.h"
#include "DraftBook.h"

#include <QObject>
#include <QString>
#include <optional>

class Job;
class QEventLoop;

// One verb of fablewick-book done to a finished book: the book opened into
// a draft as Open Book opens it, edited through the same editors, and
// written, split or searched by the window's own jobs. Says what it did on
// standard output (as JSON with --json) and why not on standard error.
class BookCommand final : public QObject
{
    Q_OBJECT
public:
    explicit BookCommand(BookOptions options, QObject* parent = nullptr);
    ~BookCommand() override;
    BookCommand(const BookCommand&) = delete;
    BookCommand& operator=(const BookCommand&) = delete;

    // 0 when done, 1 when it could not be, as the message says. Runs jobs
    // in an event loop of its own until they end.
    int run();
    // Ends the job under way; run() then returns 1.
    void stop();

private:
    [[nodiscard]] bool open();
    int info();
    int tag();
    int chapters();
    int split();
    // The draft's edits written as Save Book writes them, into the book or
    // the --output file.
    int write();
    // Runs a job to its end; its failure in words, or none.
    std::optional<QString> runToEnd(Job& job);
    // Silence searched in the book: true when found, else the failure is told.
    bool searchSilence(QList<QList<SilenceFinder::Silence>>& silences);
    int failure(const QString& message) const;
    void print(const QString& text) const;
    void printJson(const QJsonObject& object) const;
    [[nodiscard]] QString bookName() const;

    const BookOptions mOptions;
    DraftBook mDraft;
    ChapterEditor mEditor;
    Job* mRunning = nullptr;
    QEventLoop* mLoop = nullptr;
    bool mStopped = false;
};
