#pragma once

#include "CatalogueResult.h"
#include "CatalogueSearch.h"
#include "SheetDialog.h"

#include <QByteArray>
#include <QImage>
#include <QList>

class DraftBook;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

// Find Book Details: a search of the public catalogues, starting from what
// the draft has, whose results list title, author, year, publisher, the
// catalogue and a thumbnail. A result chosen shows each field it would fill,
// what the field holds now and what it becomes, and its cover at the
// catalogue's largest size; the user ticks what to take (the empty fields
// at first), and Take makes it one edit of the draft. Nothing is sent until
// Search is pressed; a failure is one line of text and changes nothing.
class DetailsSheet final : public SheetDialog
{
    Q_OBJECT
public:
    DetailsSheet(QWidget* parent, DraftBook& book, CatalogueSearch* search);

    // Fills the search from the draft's tags and first file's folder, and shows the sheet over
    // `over`.
    void ask(QWidget* over);

private:
    void searchNow();
    void showResults(const QList<CatalogueResult>& results, const QStringList& problems);
    void choose(int row);
    void imageFetched(const QString& url, const QByteArray& bytes, const QImage& image);
    void imageFailed(const QString& url, const QString& problem);
    void take();

    DraftBook& mBook;
    CatalogueSearch* mSearch;
    QLineEdit* mTitle;
    QLineEdit* mAuthor;
    QLineEdit* mIsbn;
    QPushButton* mSearchButton;
    QLabel* mStatus;
    QListWidget* mResults;
    QTreeWidget* mFields;
    QLabel* mCover;
    QPushButton* mTake;
    QList<CatalogueResult> mFound;
    int mChosen = -1;
    // The chosen result's cover, once fetched and checked.
    QByteArray mCoverBytes;
    QString mCoverUrl;
};
