#include "RunReporter.h"

#include "AppController.h"

void RunReporter::deliver(std::function<void(AppController&)> report) const
{
    AppController* controller = &mController;
    QMetaObject::invokeMethod(
        controller,
        [controller, run = mRun, report = std::move(report)] {
            if (controller->currentRun() == run)
                report(*controller);
        },
        Qt::QueuedConnection);
}

// The join runs on the GUI thread: its progress is shown at once.
void RunReporter::mp3JoinProgress(int index, int totalFiles)
{
    if (mController.currentRun() == mRun)
        mController.mp3JoinProgress(index, totalFiles);
}

void RunReporter::mp3JoinDidFinish(Mp3Joiner* joiner, std::exception_ptr joinException)
{
    deliver([=](AppController& c) { c.mp3JoinDidFinish(joiner, joinException); });
}

void RunReporter::mp3ConverterProgress(double position, const QString& description)
{
    deliver([=](AppController& c) { c.mp3ConverterProgress(position, description); });
}

void RunReporter::mp3ConverterDidFinish(Mp3Converter* converter,
                                        std::exception_ptr convertException)
{
    deliver([=](AppController& c) { c.mp3ConverterDidFinish(converter, convertException); });
}

void RunReporter::chapterWriterProgress(int index, int totalFiles)
{
    deliver([=](AppController& c) { c.chapterWriterProgress(index, totalFiles); });
}

void RunReporter::chapterWriterDidFinish(chapterWriter* writer, std::exception_ptr writeException)
{
    deliver([=](AppController& c) { c.chapterWriterDidFinish(writer, writeException); });
}

void RunReporter::M4bTaggerProgress(double value, const QString& description)
{
    deliver([=](AppController& c) { c.M4bTaggerProgress(value, description); });
}

void RunReporter::M4bTaggerDidFinish(M4bTagger* tagger, std::exception_ptr convertException)
{
    deliver([=](AppController& c) { c.M4bTaggerDidFinish(tagger, convertException); });
}
