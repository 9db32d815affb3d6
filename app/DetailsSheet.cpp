#include "DetailsSheet.h"

#include "BookFiles.h"
#include "CoverArt.h"
#include "DetailsChoice.h"
#include "DraftBook.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kFieldRole = Qt::UserRole;
// The cover's row among the fields.
constexpr unsigned kCoverField = static_cast<unsigned>(BookTag::Field::Cover);

QString resultLine(const CatalogueResult& result)
{
    QString line = result.title;
    if (!result.authors.isEmpty())
        line += u" — "_s + result.authors.join(u", "_s);
    if (!result.year.isEmpty())
        line += u" ("_s + result.year + u')';
    if (!result.publisher.isEmpty())
        line += u" · "_s + result.publisher;
    return line + u" · "_s + result.catalogue;
}

} // namespace

DetailsSheet::DetailsSheet(QWidget* parent, DraftBook& book, CatalogueSearch* search)
    : SheetDialog(parent), mBook(book), mSearch(search), mTitle(new QLineEdit(this)),
      mAuthor(new QLineEdit(this)), mIsbn(new QLineEdit(this)),
      mSearchButton(new QPushButton(u"&Search"_s, this)), mStatus(new QLabel(this)),
      mResults(new QListWidget(this)), mFields(new QTreeWidget(this)), mCover(new QLabel(this)),
      mTake(new QPushButton(u"&Take"_s, this))
{
    setObjectName(u"detailsSheet"_s);
    setWindowTitle(u"Find Book Details"_s);
    setAccessibleName(u"Find book details"_s);
    setMinimumSize(640, 560);
    const std::pair<QWidget*, const char16_t*> named[] = {
        {mTitle, u"detailsTitle"},   {mAuthor, u"detailsAuthor"},
        {mIsbn, u"detailsIsbn"},     {mSearchButton, u"detailsSearch"},
        {mStatus, u"detailsStatus"}, {mResults, u"detailsResults"},
        {mFields, u"detailsFields"}, {mCover, u"detailsCover"},
        {mTake, u"detailsTake"},
    };
    for (const auto& [widget, name] : named)
        widget->setObjectName(QString::fromUtf16(name));
    mTitle->setAccessibleName(u"Title to search for"_s);
    mAuthor->setAccessibleName(u"Author to search for"_s);
    mIsbn->setAccessibleName(u"ISBN to search for"_s);
    mSearchButton->setAccessibleName(u"Search the catalogues"_s);
    mSearchButton->setDefault(true);
    mResults->setAccessibleName(u"Books found"_s);
    mFields->setAccessibleName(u"Fields to take"_s);
    mFields->setAccessibleDescription(
        u"Each field that the chosen book fills: tick those to take, with Space"_s);
    mTake->setAccessibleName(u"Take the ticked fields"_s);
    mTake->setEnabled(false);
    // What strangers send is shown as it is, never as rich text.
    mStatus->setTextFormat(Qt::PlainText);
    mStatus->setWordWrap(true);
    mCover->setTextFormat(Qt::PlainText);
    mCover->setFixedSize(150, 150);
    mCover->setAlignment(Qt::AlignCenter);
    mCover->setText(u"No cover"_s);
    mResults->setIconSize(QSize(32, 48));
    mFields->setColumnCount(3);
    mFields->setHeaderLabels({u"Field"_s, u"Now"_s, u"Becomes"_s});
    mFields->setRootIsDecorated(false);
    mFields->header()->setStretchLastSection(true);
    mFields->setColumnWidth(0, 120);
    mFields->setColumnWidth(1, 180);

    auto* form = new QFormLayout;
    form->addRow(u"T&itle:"_s, mTitle);
    form->addRow(u"&Author:"_s, mAuthor);
    form->addRow(u"IS&BN:"_s, mIsbn);
    auto* searchRow = new QHBoxLayout;
    searchRow->addLayout(form, 1);
    searchRow->addWidget(mSearchButton, 0, Qt::AlignBottom);
    auto* chosen = new QHBoxLayout;
    chosen->addWidget(mFields, 1);
    chosen->addWidget(mCover, 0, Qt::AlignTop);
    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(u"Close"_s, this);
    close->setAccessibleName(u"Close without taking"_s);
    close->setAutoDefault(false);
    mTake->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(close);
    buttons->addWidget(mTake);
    auto* resultsLabel = new QLabel(u"&Books found:"_s, this);
    resultsLabel->setBuddy(mResults);
    auto* fieldsLabel = new QLabel(u"&Fields to take:"_s, this);
    fieldsLabel->setBuddy(mFields);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(mStatus);
    layout->addWidget(resultsLabel);
    layout->addWidget(mResults, 1);
    layout->addWidget(fieldsLabel);
    layout->addLayout(chosen, 1);
    layout->addLayout(buttons);

    connect(mSearchButton, &QPushButton::clicked, this, [this] { searchNow(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(mTake, &QPushButton::clicked, this, [this] { take(); });
    connect(mResults, &QListWidget::currentRowChanged, this, [this](int row) { choose(row); });
    connect(mSearch, &CatalogueSearch::searched, this, &DetailsSheet::showResults);
    connect(mSearch, &CatalogueSearch::imageFetched, this, &DetailsSheet::imageFetched);
    connect(mSearch, &CatalogueSearch::imageFailed, this, &DetailsSheet::imageFailed);
}

void DetailsSheet::ask(QWidget* over)
{
    QString folder;
    if (!mBook.files().isEmpty())
        folder = QFileInfo(mBook.files().first()->pathColumn).dir().dirName();
    const CatalogueSearch::Query query = DetailsChoice::queryFor(mBook.tags(), folder);
    mTitle->setText(query.title);
    mAuthor->setText(query.author);
    mIsbn->setText(query.isbn);
    mStatus->setText(u"Nothing is sent until you search."_s);
    mResults->clear();
    mFields->clear();
    mFound.clear();
    mChosen = -1;
    mTake->setEnabled(false);
    if (over && over != parentWidget())
        setParent(over, windowFlags());
    open();
    mTitle->setFocus();
}

void DetailsSheet::searchNow()
{
    const CatalogueSearch::Query query{.title = mTitle->text().trimmed(),
                                       .author = mAuthor->text().trimmed(),
                                       .isbn = mIsbn->text().trimmed()};
    if (query.isEmpty()) {
        mStatus->setText(u"Type a title, an author or an ISBN to search for."_s);
        return;
    }
    mStatus->setText(u"Searching Open Library and Google Books…"_s);
    mSearchButton->setEnabled(false);
    mSearch->search(query);
}

void DetailsSheet::showResults(const QList<CatalogueResult>& results, const QStringList& problems)
{
    mSearchButton->setEnabled(true);
    mResults->clear();
    mFields->clear();
    mFound = results;
    mChosen = -1;
    mTake->setEnabled(false);
    QString line;
    if (!results.isEmpty())
        line = results.size() == 1 ? u"1 book found."_s : u"%1 books found."_s.arg(results.size());
    else if (problems.isEmpty())
        line = u"No book was found. Fewer or other words may find it."_s;
    if (!problems.isEmpty())
        line = (line + u' ' + problems.join(u' ')).trimmed();
    mStatus->setText(line);
    for (const CatalogueResult& result : results) {
        auto* item = new QListWidgetItem(resultLine(result), mResults);
        item->setToolTip(resultLine(result));
        if (!result.thumbnailUrl.isEmpty())
            mSearch->fetchImage(result.thumbnailUrl);
    }
    if (!results.isEmpty())
        mResults->setCurrentRow(0);
}

void DetailsSheet::choose(int row)
{
    mFields->clear();
    mCoverBytes.clear();
    mCoverUrl.clear();
    mCover->setPixmap({});
    mCover->setText(u"No cover"_s);
    mChosen = row;
    mTake->setEnabled(row >= 0 && row < mFound.size());
    if (!mTake->isEnabled())
        return;
    const CatalogueResult& result = mFound.at(row);
    for (const DetailsChoice::Change& change : DetailsChoice::changes(mBook.tags(), result)) {
        auto* item = new QTreeWidgetItem(
            mFields,
            {change.name, change.before.isEmpty() ? u"(empty)"_s : change.before, change.after});
        item->setData(0, kFieldRole, static_cast<unsigned>(change.field));
        item->setCheckState(0, change.takenUnasked ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(2, change.after);
    }
    if (!result.coverUrl.isEmpty()) {
        mCoverUrl = result.coverUrl;
        mCover->setText(u"Fetching the cover…"_s);
        mSearch->fetchImage(result.coverUrl);
    }
}

void DetailsSheet::imageFetched(const QString& url, const QByteArray& bytes, const QImage& image)
{
    for (int row = 0; row < mResults->count() && row < mFound.size(); ++row) {
        if (mFound.at(row).thumbnailUrl == url)
            mResults->item(row)->setIcon(QPixmap::fromImage(image));
    }
    if (url != mCoverUrl || mCoverUrl.isEmpty())
        return;
    mCoverBytes = bytes;
    mCover->setPixmap(QPixmap::fromImage(
        image.scaled(mCover->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    mCover->setToolTip(u"%1 × %2 pixels"_s.arg(image.width()).arg(image.height()));
    auto* item = new QTreeWidgetItem(
        mFields, {u"Cover"_s, mBook.tags().cover.isEmpty() ? u"(none)"_s : u"a cover"_s,
                  u"%1 × %2 pixels, from %3"_s.arg(image.width())
                      .arg(image.height())
                      .arg(mChosen >= 0 ? mFound.at(mChosen).catalogue : QString())});
    item->setData(0, kFieldRole, kCoverField);
    item->setCheckState(0, mBook.tags().cover.isEmpty() ? Qt::Checked : Qt::Unchecked);
}

void DetailsSheet::imageFailed(const QString& url, const QString& problem)
{
    if (url == mCoverUrl && !mCoverUrl.isEmpty()) {
        mCover->setText(u"No cover"_s);
        mStatus->setText(problem);
        mCoverUrl.clear();
    }
}

void DetailsSheet::take()
{
    if (mChosen < 0 || mChosen >= mFound.size())
        return;
    BookTag::Fields fields;
    bool cover = false;
    for (int i = 0; i < mFields->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = mFields->topLevelItem(i);
        if (item->checkState(0) != Qt::Checked)
            continue;
        const unsigned field = item->data(0, kFieldRole).toUInt();
        if (field == kCoverField)
            cover = true;
        else
            fields |= static_cast<BookTag::Field>(field);
    }
    if (!fields && !cover) {
        mStatus->setText(u"Tick the fields to take first."_s);
        return;
    }
    BookTag tags = DetailsChoice::taken(mBook.tags(), mFound.at(mChosen), fields);
    if (cover && !mCoverBytes.isEmpty()) {
        // A JPEG or PNG as it came; another kind as a JPEG, which players show.
        const QString mime = CoverArt::mimeTypeOf(mCoverBytes);
        const bool kept = mime == u"image/jpeg"_s || mime == u"image/png"_s;
        tags.cover = kept ? mCoverBytes : BookFiles::coverJpeg(QImage::fromData(mCoverBytes));
        tags.coverMimeType = kept ? mime : u"image/jpeg"_s;
    }
    mBook.edit(u"Take Book Details"_s, [&](DraftBook::Edit& edit) { edit.setTags(tags); });
    accept();
}
