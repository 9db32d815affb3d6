#pragma once

#include "BookTag.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class AudioPreview;
class ChapterActions;
class DialogService;
class DraftBook;
class FileLister;
class Job;
class OutputSheet;
class QAction;
class QMainWindow;
namespace Ui {
class MainWindow;
}

// A finished book (.m4b, .m4a, .mp3, from any tool) opened again: it is the
// list's one file, its chapters the chapter list's, its tags and cover the
// tag sheet's. Save writes what was edited into it without an encode; a
// split makes one file per chapter. Each runs as a job, one at a time, and
// the line under the list tells how it goes.
class BookActions final : public QObject
{
    Q_OBJECT
public:
    struct Parts
    {
        DraftBook& book;
        FileLister& lister;
        AudioPreview& preview;
        DialogService& dialogs;
        ChapterActions& chapters;
        const OutputSheet& output;
        // Whether the window may start a save or a split: no run is going.
        std::function<bool()> idle;
    };
    // Its items go in the window's File menu, and its jobs tell how they go
    // in the line under the list.
    BookActions(QMainWindow* window, const Ui::MainWindow& ui, const Parts& parts,
                QObject* parent = nullptr);
    ~BookActions() override;

    // A single file opened with the application or dropped on an empty list
    // is opened as a book when it is one: an .m4b, or a file with chapters.
    [[nodiscard]] static bool looksLikeBook(const QString& path);
    void openBook();
    void openBookFile(const QString& path);
    void saveBook();
    void saveBookAs();
    // In a folder beside the book named after it; encoded: .mp3 files from an
    // MP4 book, .m4a files from an MP3 book.
    void splitIntoChapters(bool encoded = false);
    // What can be done now, after a change of the list or of a run.
    void update();
    // "Saved …", until the book is edited again; empty otherwise.
    [[nodiscard]] const QString& note() const { return mNote; }
    [[nodiscard]] bool isBusy() const { return mJob != nullptr; }

Q_SIGNALS:
    // The line under the list should say what it says anew.
    void summaryChanged();

private:
    [[nodiscard]] QAction* action(const QString& text, const QString& key, const QString& tip);
    void writeBook(const QString& target);
    void bookWritten(const QString& target, const BookTag& tag, const QString& note);
    void runJob(Job* job, const QString& starting);

    QMainWindow* mWindow;
    const Ui::MainWindow& mUi;
    Parts mParts;
    QAction* mOpen;
    QAction* mSave;
    QAction* mSaveAs;
    QAction* mSplit;
    QAction* mSplitEncoded;
    QString mNote;
    // The save or split under way.
    std::unique_ptr<Job> mJob;
};
