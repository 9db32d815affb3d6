#include "SplitBook.h"

#include "BookSplitter.h"

#include <QDir>

SplitBook::SplitBook(QString book, QString folder, BookTag tag, std::optional<int> encodedKbps,
                     QObject* parent)
    : Job(parent), mBook(std::move(book)), mFolder(std::move(folder)), mTag(std::move(tag)),
      mKbps(encodedKbps)
{
}

SplitBook::~SplitBook()
{
    halt();
}

void SplitBook::begin()
{
    mStopped = false;
    mThread.start([this, reports = reports()] {
        const auto stopped = [this] { return mStopped.load(); };
        std::exception_ptr failure;
        try {
            mFiles = mKbps ? BookSplitter::splitEncoded(mBook, mFolder, mTag, *mKbps, reports, stopped)
                           : BookSplitter::split(mBook, mFolder, mTag, reports, stopped);
        } catch (const std::exception&) {
            // The folder goes too, if the split made it and nothing else is in it.
            QDir().rmdir(mFolder);
            failure = std::current_exception();
        }
        reports.end(failure);
    });
}

void SplitBook::halt()
{
    mStopped = true;
    mThread.join();
}
