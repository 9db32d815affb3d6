#pragma once

#include "BookFiles.h"
#include "BookTag.h"
#include "ChapterRow.h"
#include "DraftStep.h"
#include "ItemRecord.h"
#include "OutputSettings.h"
#include "RunRequest.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QUndoStack;

// The book being made or edited, apart from any window: its files in order,
// their chapters, its tags and cover, the output settings, and the history
// of its edits. Every edit is one step of that history, made through
// edit(); what the files' own details say and what a run learns of them
// come in beside it. Views are told what changed as it changes: files
// inserted, removed, rearranged or changed, and the chapters and the tags.
// The window and the command line both make their books from one.
class DraftBook final : public QObject
{
    Q_OBJECT
public:
    explicit DraftBook(QObject* parent = nullptr);
    ~DraftBook() override;
    DraftBook(const DraftBook&) = delete;
    DraftBook& operator=(const DraftBook&) = delete;

    [[nodiscard]] const ItemList& files() const { return mFiles; }
    [[nodiscard]] bool lists(const QString& path) const { return mPaths.contains(path); }
    [[nodiscard]] int rowOf(const ItemRecordPtr& record) const;
    // Each file's length as listed, 0 while it is not known, and their sum.
    [[nodiscard]] QList<double> lengths() const;
    [[nodiscard]] double length() const;
    // Whether every file's details have been read.
    [[nodiscard]] bool allRead() const;

    // The chapters as they play, the proposed starts among them.
    [[nodiscard]] const QList<ChapterRow>& chapters() const;
    [[nodiscard]] int proposalCount() const;
    // The chapters that are the book's, in milliseconds, the last one
    // ending at the book's end.
    [[nodiscard]] QList<BookTag::Chapter> bookChapters() const;

    [[nodiscard]] const BookTag& tags() const { return mTags; }
    [[nodiscard]] bool tagsAreEmpty() const;
    [[nodiscard]] const OutputSettings& settings() const { return mSettings; }
    void setSettings(const OutputSettings& settings) { mSettings = settings; }
    [[nodiscard]] QUndoStack* history() const { return mHistory; }

    // An edit under way: each change is made as it is asked for, and the
    // whole is one step of the history, merged with the steps before it
    // that carry the same batch (the turns of one addition of many files).
    class Edit
    {
    public:
        void insert(int row, ItemList records);
        void remove(int row, int count);
        void rearrange(ItemList order, bool follow = true);
        void change(const ItemRecordPtr& record, const ItemRecord::Edits& edits);
        void setTags(const BookTag& tags);
        [[nodiscard]] DraftBook& book() const { return mBook; }

    private:
        friend class DraftBook;
        explicit Edit(DraftBook& book) : mBook(book) {}
        void add(DraftStep::Step step);
        DraftBook& mBook;
        std::vector<DraftStep::Step> mSteps;
    };
    void edit(const QString& name, const std::function<void(Edit&)>& changes, int batch = -1);
    // A number for the edits that make up one batch.
    [[nodiscard]] int newBatch() { return ++mBatches; }

    // The files' agreed tags in the fields that are empty, and their cover
    // if there is none: as an edit, or, when the tags are untouched, quietly.
    void fillTagsFromFiles(bool asEdit);

    // A finished book opened to edit: its one file, and its tags and
    // chapters as they were when it was read or last saved, so that a save
    // writes only what was edited since.
    struct OpenedBook
    {
        QString path;
        BookTag read;
        bool tagsRead = false;
    };
    void openBook(const ItemRecordPtr& record);
    [[nodiscard]] bool bookIsOpen() const;
    [[nodiscard]] const std::optional<OpenedBook>& openedBook() const { return mBook; }
    // The tags and chapters, with what was edited since it was read marked to be written.
    [[nodiscard]] BookTag bookEdits() const;
    // The book was saved as that file, with these tags.
    void bookSaved(const QString& path, const BookTag& saved);

    // What files' details say, read in the background: not an edit.
    void applyDetails(const QList<std::pair<QString, BookFiles::Details>>& details);
    // A file's details are read again, as when it has changed.
    void forgetDetails(int row);
    // What a run learned of its files: problems, lengths, loudness.
    void applyLearned(const QList<ItemRecord>& files);
    // Changes of files' records made outside the history, for the views.
    void recordsChanged(int first, int last);

    // The run that the draft asks for now: its listed files as they are,
    // its tags and its settings.
    [[nodiscard]] RunRequest order() const;

Q_SIGNALS:
    void filesAboutToBeInserted(int first, int last);
    void filesInserted();
    void filesAboutToBeRemoved(int first, int last);
    void filesRemoved();
    void filesAboutToBeRearranged();
    // newRowOf tells where each old row stands now; empty, the rows keep
    // their numbers, whatever records stand in them.
    void filesRearranged(const QList<int>& newRowOf);
    void filesChanged(int first, int last);
    void chaptersChanged();
    void tagsChanged();
    // Once for each edit made, undone or made again.
    void edited();
    // A batch of files' details has come in.
    void detailsRead();

private:
    friend class DraftEdit;
    // Makes a step, forward or back, and tells the views.
    void apply(const DraftStep::Step& step, bool forward);
    void insertRecords(int row, const ItemList& records);
    void removeRecords(int row, qsizetype count);
    void rearrangeRecords(const ItemList& from, const ItemList& to, bool follow);
    void changeRecords(const QList<DraftStep::Change::Of>& records, bool forward);
    void replaceTags(const BookTag& tags);
    // After an edit, an undo or a redo.
    void settled(bool chapters);
    void takeBookTags();

    ItemList mFiles;
    QSet<QString> mPaths;
    BookTag mTags;
    OutputSettings mSettings;
    std::optional<OpenedBook> mBook;
    QUndoStack* mHistory;
    int mBatches = 0;
    mutable QList<ChapterRow> mChapters;
    mutable bool mChaptersStale = true;
};
