#include "TagSheet.h"

#include "ArtworkWell.h"
#include "BookFiles.h"
#include "DraftBook.h"
#include "SheetDialog.h"
#include "ui_TagWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUndoStack>

using namespace Qt::Literals::StringLiterals;

namespace {
// Each line of the sheet and the tag it shows.
struct Line
{
    QLineEdit* Ui::TagWindow::*field;
    QString BookTag::*tag;
};
constexpr Line kLines[] = {
    {&Ui::TagWindow::title, &BookTag::title},
    {&Ui::TagWindow::artist, &BookTag::artist},
    {&Ui::TagWindow::album, &BookTag::album},
    {&Ui::TagWindow::albumArtist, &BookTag::albumArtist},
    {&Ui::TagWindow::comment, &BookTag::comment},
    {&Ui::TagWindow::narrator, &BookTag::narrator},
    {&Ui::TagWindow::year, &BookTag::year},
    {&Ui::TagWindow::series, &BookTag::series},
    {&Ui::TagWindow::seriesNumber, &BookTag::seriesNumber},
};
} // namespace

TagSheet::TagSheet(QMainWindow* window, DraftBook& book, QObject* parent)
    : QObject(parent), mBook(book), mUi(std::make_unique<Ui::TagWindow>()),
      mSheet(new SheetDialog(window))
{
    mUi->setupUi(mSheet);
    for (const Line& line : kLines) {
        QLineEdit* field = (*mUi).*line.field;
        connect(field, &QLineEdit::textChanged, this, [this, field] { fieldEdited(field); });
    }
    connect(mUi->description, &QPlainTextEdit::textChanged, this,
            [this] { fieldEdited(mUi->description); });
    connect(mUi->artwork, &ArtworkWell::imageChanged, this, [this] { coverEdited(); });
    connect(mUi->chooseArtwork, &QPushButton::clicked, this, [this] { chooseArtwork(); });
    connect(mUi->removeArtwork, &QPushButton::clicked, this,
            [this] { mUi->artwork->setImage({}); });
    connect(mUi->fillFromFiles, &QPushButton::clicked, this,
            [this] { mBook.fillTagsFromFiles(true); });
    connect(mUi->tagDone, &QPushButton::clicked, this, [this] { close(); });
    connect(mSheet, &QDialog::rejected, this, [this] { close(); });
    connect(&mBook, &DraftBook::tagsChanged, this, [this] { show(); });
    show();
}

TagSheet::~TagSheet() = default;

void TagSheet::open()
{
    mSheet->open();
}

void TagSheet::close()
{
    if (mSheet->isVisible())
        mSheet->done(1);
}

void TagSheet::show()
{
    mShowing = true;
    const BookTag& tags = mBook.tags();
    for (const Line& line : kLines) {
        QLineEdit* field = (*mUi).*line.field;
        if (field->text() != tags.*line.tag)
            field->setText(tags.*line.tag);
    }
    if (mUi->description->toPlainText() != tags.description)
        mUi->description->setPlainText(tags.description);
    if (tags.cover != mShownCover) {
        mShownCover = tags.cover;
        mUi->artwork->setImage(QImage::fromData(tags.cover));
    }
    mShowing = false;
}

void TagSheet::fieldEdited(const QWidget* field)
{
    if (mShowing)
        return;
    BookTag tags = mBook.tags();
    for (const Line& line : kLines)
        tags.*line.tag = ((*mUi).*line.field)->text();
    tags.description = mUi->description->toPlainText();
    // Keys typed into one field, one after another, are one edit.
    if (field != mLastField || mBook.history()->index() != mBatchAt) {
        mLastField = field;
        mBatch = mBook.newBatch();
    }
    mBook.edit(u"Edit Tags"_s, [&tags](DraftBook::Edit& edit) { edit.setTags(tags); }, mBatch);
    mBatchAt = mBook.history()->index();
}

void TagSheet::coverEdited()
{
    if (mShowing)
        return;
    BookTag tags = mBook.tags();
    const QImage& image = mUi->artwork->image();
    tags.cover = image.isNull() ? QByteArray() : BookFiles::coverJpeg(image);
    tags.coverMimeType = image.isNull() ? QString() : u"image/jpeg"_s;
    mShownCover = tags.cover;
    mLastField = nullptr;
    mBook.edit(image.isNull() ? u"Remove Cover"_s : u"Change Cover"_s,
               [&tags](DraftBook::Edit& edit) { edit.setTags(tags); });
}

void TagSheet::chooseArtwork()
{
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns << u"*."_s + QString::fromLatin1(format);
    const QString path =
        QFileDialog::getOpenFileName(mSheet, u"Choose Cover Art"_s, QDir::homePath(),
                                     u"Images (%1)"_s.arg(patterns.join(u' ')));
    if (!path.isEmpty())
        mUi->artwork->setImageFromFile(path);
}
