#pragma once

#include "BookRun.h"

#include <QElapsedTimer>
#include <QString>

// Tells a run's progress: a bar with the step, the percentage and the time
// left on a terminal, plain lines elsewhere, or one JSON object a line.
class ProgressPrinter
{
public:
    enum class Style
    {
        Bar,
        Lines,
        Json,
    };
    explicit ProgressPrinter(Style style) : mStyle(style) {}

    void begin(const QString& book);
    void show(const Job::Progress& progress);
    void made(const QString& path);
    void failed(const QString& reason);
    void skipped(const QString& reason);
    // What was found out for the book before it is made: its details.
    void note(const QString& text);
    void summary(int made, int failed, int skipped, const QStringList& failures);

private:
    void endBar();

    Style mStyle;
    QString mBook;
    RunState mState = RunState::Idle;
    int mPercent = -1;
    QElapsedTimer mStepClock;
    bool mBarShown = false;
};
