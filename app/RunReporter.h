#pragma once

#include "M4bTaggerDelegate.h"
#include "chapterWriterDelegate.h"
#include "mp3ConverterDelegate.h"
#include "mp3JoinerDelegate.h"

#include <functional>

class AppController;

// Carries the reports of one run's workers to the controller, on the GUI
// thread and in the order they were sent. Each run has its own: a worker of
// a stopped run may report after the next run has begun, and its report is
// then known by its run number and dropped.
class RunReporter final : public mp3JoinerDelegate,
                          public mp3ConverterDelegate,
                          public chapterWriterDelegate,
                          public M4bTaggerDelegate
{
public:
    RunReporter(AppController& controller, int run) : mController(controller), mRun(run) {}

    void mp3JoinProgress(int index, int totalFiles) override;
    void mp3JoinDidFinish(Mp3Joiner* joiner, std::exception_ptr joinException) override;
    void mp3ConverterProgress(double position, const QString& description) override;
    void mp3ConverterDidFinish(Mp3Converter* converter,
                               std::exception_ptr convertException) override;
    void chapterWriterProgress(int index, int totalFiles) override;
    void chapterWriterDidFinish(chapterWriter* writer, std::exception_ptr writeException) override;
    void M4bTaggerProgress(double value, const QString& description) override;
    void M4bTaggerDidFinish(M4bTagger* tagger, std::exception_ptr convertException) override;

    // Hands a report to the GUI thread's event loop, also from the GUI
    // thread itself, so that a step never starts inside the end of another.
    void deliver(std::function<void(AppController&)> report) const;

private:
    AppController& mController;
    const int mRun;
};
