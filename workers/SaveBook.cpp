#include "SaveBook.h"

#include "BookSaver.h"

SaveBook::SaveBook(QString source, QString target, BookTag tag, QObject* parent)
    : Job(parent), mSource(std::move(source)), mTarget(std::move(target)), mTag(std::move(tag))
{
}

SaveBook::~SaveBook()
{
    mThread.join();
}

void SaveBook::begin()
{
    mThread.start([this, reports = reports()] {
        std::exception_ptr failure;
        try {
            mNote = BookSaver::save(mSource, mTarget, mTag);
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
        reports.end(failure);
    });
}
