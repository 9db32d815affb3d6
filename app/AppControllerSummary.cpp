// What the list tells before a run (each file's length, the book's total
// and size) and the progress that the window title shows during one.
#include "AppController.h"
#include "BookFiles.h"
#include "DiskSpace.h"
#include "ItemTableModel.h"
#include "SheetDialog.h"

#include <QComboBox>
#include <QFutureWatcher>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QProgressBar>
#include <QTimer>
#include <QtConcurrent>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

void AppController::readDetails(const QString& path)
{
    using Details = BookFiles::Details;
    auto* watcher = new QFutureWatcher<Details>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        const Details details = watcher->result();
        // A row moved meanwhile is a new record of the same file.
        for (qsizetype row = 0; row < TableData.size(); ++row) {
            ItemRecord& record = *TableData.at(row);
            if (record.lengthRead || record.pathColumn != path)
                continue;
            BookFiles::apply(details, record);
            mTableModel->recordChanged(static_cast<int>(row));
        }
        if (mBook && !mBook->tagsRead && bookIsOpen() && TableData.first()->lengthRead) {
            mBook->tagsRead = true;
            fillTagSheetFromBook(*TableData.first());
        }
        // Many files end at once: the line below the list says it once.
        if (!std::exchange(mSummaryScheduled, true))
            QTimer::singleShot(0, this, [this] {
                mSummaryScheduled = false;
                showListSummary();
                // Once every file's tags are in, an untouched tag sheet takes the book's.
                const bool allRead = mFilesToAdd.empty() &&
                                     std::all_of(TableData.begin(), TableData.end(),
                                                 [](const ItemRecordPtr& r) { return r->lengthRead; });
                if (allRead && tagSheetIsEmpty())
                    fillTagSheet();
                if (allRead)
                    offerChapterFile();
            });
    });
    // mp3info runs twice for each file, counting the frames of a long file
    // without an Info frame reads all of it, and a tag may hold a large cover.
    watcher->setFuture(QtConcurrent::run(mReaders, [path] { return BookFiles::readDetails(path); }));
}

void AppController::showListSummary()
{
    double seconds = 0;
    bool reading = !mFilesToAdd.empty();
    for (const ItemRecordPtr& record : std::as_const(TableData)) {
        seconds += record->lengthColumn.value_or(0);
        reading = reading || !record->lengthRead;
    }
    const qsizetype count = TableData.size();
    if (count == 0) {
        listSummary->setText(u"No files"_s);
        return;
    }
    QString text = (count == 1 ? u"1 file"_s : u"%1 files"_s.arg(count)) + u" \u00b7 "_s +
                   ItemRecord::formatLength(seconds);
    if (reading) {
        text += u" so far, reading lengths\u2026"_s;
    } else {
        // ffmpeg's bit rate is the whole stream's, whatever the channels.
        QString rate = outputRate->currentText();
        if (rate.contains(u"Same"_s))
            rate = TableData.first()->bitrateColumn;
        bool isNumber = false;
        const int kbps = QStringView(rate).left(rate.indexOf(u'k')).toInt(&isNumber);
        if (isNumber && kbps > 0 && seconds > 0)
            text += u" \u00b7 about %1 as AAC"_s.arg(DiskSpace::roundedSize(seconds * kbps * 1000 / 8));
    }
    if (bookIsOpen() && !mBook->savedNote.isEmpty())
        text = mBook->savedNote + u" \u00b7 "_s + text;
    else if (bookIsOpen() && !reading)
        text += u" \u00b7 opened as a book: Save Book (Ctrl+S) writes its chapters and tags "
                "into it"_s;
    listSummary->setText(text);
}

void AppController::showProgressInTitle()
{
    const int span = joinProgressIndicator->maximum() - joinProgressIndicator->minimum();
    if (!joinProgressWindow->isVisible() || span <= 0) {
        mainWindow->setWindowTitle(bookIsOpen() ? QFileInfo(mBook->path).fileName() +
                                                      u" \u2014 Fablewick"_s
                                                : u"Fablewick"_s);
        return;
    }
    const int percent =
        (joinProgressIndicator->value() - joinProgressIndicator->minimum()) * 100 / span;
    mainWindow->setWindowTitle(u"Fablewick \u2014 %1 %"_s.arg(percent));
}
