#include "ProgressPrinter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

void out(FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

void json(const QJsonObject& object)
{
    out(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u'\n');
}

QString minutes(double seconds)
{
    const auto whole = static_cast<qint64>(std::ceil(seconds));
    return u"%1:%2"_s.arg(whole / 60).arg(whole % 60, 2, 10, QChar(u'0'));
}

} // namespace

void ProgressPrinter::begin(const QString& book)
{
    mBook = book;
    mState = RunState::Idle;
    mPercent = -1;
    if (mStyle == Style::Json)
        json({{u"event"_s, u"begin"_s}, {u"book"_s, book}});
    else if (mStyle == Style::Lines)
        out(stdout, u"Making %1\n"_s.arg(book));
    else
        out(stderr, u"Making %1\n"_s.arg(book));
}

void ProgressPrinter::show(const Job::Progress& progress)
{
    const RunState state = BookRun::stateOf(progress);
    const QString step = state == RunState::Starting ? u"Waiting"_s : BookRun::nameOf(state);
    const bool newStep = state != mState;
    if (newStep) {
        mState = state;
        mPercent = -2;
        mStepClock.start();
    }
    const int percent =
        progress.total > 0
            ? static_cast<int>(std::clamp(progress.done / progress.total, 0.0, 1.0) * 100)
            : -1;
    const bool changed = percent != mPercent;
    if (!changed && mStyle != Style::Bar)
        return;
    const int shownBefore = mPercent;
    mPercent = percent;
    switch (mStyle) {
    case Style::Json: {
        QJsonObject object{{u"event"_s, u"progress"_s}, {u"book"_s, mBook}, {u"step"_s, step}};
        if (percent >= 0) {
            object.insert(u"done"_s, progress.done);
            object.insert(u"total"_s, progress.total);
            object.insert(u"percent"_s, percent);
        }
        json(object);
        break;
    }
    case Style::Lines:
        // A line at each step and each tenth, not a flood.
        if (newStep || percent / 10 != shownBefore / 10)
            out(stdout,
                percent < 0 ? u"%1...\n"_s.arg(step) : u"%1 %2 %\n"_s.arg(step).arg(percent));
        break;
    case Style::Bar: {
        constexpr int kWidth = 30;
        const int filled = percent < 0 ? 0 : percent * kWidth / 100;
        QString left;
        const double elapsed = static_cast<double>(mStepClock.elapsed()) / 1000;
        if (percent >= 3 && elapsed > 1)
            left = u"  %1 left"_s.arg(minutes(elapsed * (100 - percent) / percent));
        const QString bar = QString(filled, u'#') + QString(kWidth - filled, u'-');
        out(stderr, u"\r\033[K%1  [%2] %3%4"_s.arg(
                        step.leftJustified(8), bar,
                        percent < 0 ? u"..."_s : u"%1 %"_s.arg(percent, 3), left));
        mBarShown = true;
        break;
    }
    }
}

void ProgressPrinter::endBar()
{
    if (mBarShown)
        out(stderr, u"\r\033[K"_s);
    mBarShown = false;
}

void ProgressPrinter::made(const QString& path)
{
    endBar();
    if (mStyle == Style::Json)
        json({{u"event"_s, u"made"_s}, {u"book"_s, mBook}, {u"path"_s, path}});
    else
        out(stdout, u"Made %1\n"_s.arg(path));
}

void ProgressPrinter::failed(const QString& reason)
{
    endBar();
    if (mStyle == Style::Json)
        json({{u"event"_s, u"failed"_s}, {u"book"_s, mBook}, {u"reason"_s, reason}});
    out(stderr, u"fablewick-make: %1\n"_s.arg(reason));
}

void ProgressPrinter::skipped(const QString& reason)
{
    if (mStyle == Style::Json)
        json({{u"event"_s, u"skipped"_s}, {u"book"_s, mBook}, {u"reason"_s, reason}});
    else
        out(stdout, u"Skipped %1: %2\n"_s.arg(mBook, reason));
}

void ProgressPrinter::note(const QString& text)
{
    if (mStyle == Style::Json)
        json({{u"event"_s, u"note"_s}, {u"book"_s, mBook}, {u"text"_s, text}});
    else
        out(stdout, text + u'\n');
}

void ProgressPrinter::summary(int made, int failed, int skipped, const QStringList& failures)
{
    const QString line = u"%1 made, %2 failed, %3 skipped"_s.arg(made).arg(failed).arg(skipped);
    if (mStyle == Style::Json) {
        json({{u"event"_s, u"summary"_s},
              {u"made"_s, made},
              {u"failed"_s, failed},
              {u"skipped"_s, skipped},
              {u"failures"_s, QJsonValue::fromVariant(failures)}});
        return;
    }
    out(stdout, line + u'\n');
    for (const QString& failure : failures)
        out(stdout, u"  failed: %1\n"_s.arg(failure));
}
