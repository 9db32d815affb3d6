#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class DraftBook;
class QMainWindow;
class QWidget;
class SheetDialog;
namespace Ui {
class TagWindow;
}

// The tag sheet, a view of the draft's tags: each field shows its tag, and
// what the user types, chooses or drops there is an edit of the draft (the
// keys typed into one field one edit), so that Undo takes it back. Fill
// from Files fills the empty fields from the files' own tags.
class TagSheet final : public QObject
{
    Q_OBJECT
public:
    TagSheet(QMainWindow* window, DraftBook& book, QObject* parent = nullptr);
    ~TagSheet() override;

    [[nodiscard]] SheetDialog* sheet() const { return mSheet; }
    void open();
    void close();

private:
    // The fields as the draft's tags are now.
    void show();
    void fieldEdited(const QWidget* field);
    void coverEdited();
    void chooseArtwork();

    DraftBook& mBook;
    std::unique_ptr<Ui::TagWindow> mUi;
    SheetDialog* mSheet;
    // While the fields show the draft, their changes are none of the user's.
    bool mShowing = false;
    // The cover shown, as the draft holds it.
    QByteArray mShownCover;
    // The field typed in last, and the edit that its keys go into.
    const QWidget* mLastField = nullptr;
    int mBatch = -1;
    int mBatchAt = -1;
};
