// The waveform strip's mouse, wheel and keys.
#include "WaveformStrip.h"

#include "ChapterRow.h"
#include "DraftBook.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

void WaveformStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    mPressed = true;
    mPressedAt = event->position().toPoint();
    mDragRow = markAt(event->position().x());
    mDragging = false;
    if (mDragRow >= 0)
        Q_EMIT markChosen(mDragRow);
}

void WaveformStrip::mouseMoveEvent(QMouseEvent* event)
{
    const int mark = markAt(event->position().x());
    QWidget::setCursor(mark >= 0 || mDragging ? Qt::SizeHorCursor : Qt::ArrowCursor);
    if (!mPressed || mDragRow < 0)
        return;
    if (!mDragging && std::abs(event->position().x() - mPressedAt.x()) < 3)
        return;
    mDragging = true;
    mDragTo = snapped(std::clamp(timeAt(event->position().x()), 0.0, bookLength()));
    update();
}

void WaveformStrip::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !mPressed)
        return;
    mPressed = false;
    const int row = std::exchange(mDragRow, -1);
    if (std::exchange(mDragging, false)) {
        update();
        Q_EMIT markMoved(row, mDragTo);
        return;
    }
    const double at = row >= 0 ? mBook.chapters().at(row).start : timeAt(event->position().x());
    setCursorTime(at);
    if (const auto place = placeAt(at); place && row < 0)
        Q_EMIT seekRequested(place->first, place->second);
}

void WaveformStrip::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || markAt(event->position().x()) >= 0)
        return;
    const double at = timeAt(event->position().x());
    setCursorTime(at);
    if (const auto place = placeAt(at))
        Q_EMIT addRequested(place->first, place->second);
}

void WaveformStrip::wheelEvent(QWheelEvent* event)
{
    const QPoint turn = event->angleDelta();
    const bool sideways = turn.x() != 0 || (event->modifiers() & Qt::ShiftModifier);
    const double notches = (turn.x() != 0 ? turn.x() : turn.y()) / 120.0;
    if (sideways) {
        if (mScale > 0)
            zoomTo(mViewStart - notches * viewSeconds() * 0.1, viewSeconds());
    } else {
        zoomBy(std::pow(1.25, notches), timeAt(event->position().x()));
    }
    event->accept();
}

void WaveformStrip::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const auto step = [&]() -> double {
        if (mods & Qt::ControlModifier)
            return frameAt(mCursor);
        return mods & Qt::ShiftModifier ? 0.1 : 1.0;
    };
    const QList<ChapterRow>& chapters = mBook.chapters();
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (mods & Qt::AltModifier)
            break; // the chosen chapter's, as in the list
        moveCursor(event->key() == Qt::Key_Left ? -step() : step());
        return;
    case Qt::Key_Home:
        setCursorTime(0);
        return;
    case Qt::Key_End:
        setCursorTime(bookLength());
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const bool forward = event->key() == Qt::Key_PageDown;
        int found = -1;
        for (int row = 0; row < chapters.size(); ++row) {
            const double start = chapters.at(row).start;
            if (forward && start > mCursor + 0.0005) {
                found = row;
                break;
            }
            if (!forward && start < mCursor - 0.0005)
                found = row;
        }
        if (found >= 0) {
            setCursorTime(chapters.at(found).start);
            Q_EMIT markChosen(found);
        }
        return;
    }
    case Qt::Key_Insert:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods & Qt::ControlModifier)
            break; // takes a proposal
        if (const auto place = placeAt(mCursor))
            Q_EMIT addRequested(place->first, place->second);
        return;
    case Qt::Key_Space:
        if (const auto place = placeAt(mCursor))
            Q_EMIT playRequested(place->first, place->second);
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(2, mCursor);
        return;
    case Qt::Key_Minus:
        zoomBy(0.5, mCursor);
        return;
    case Qt::Key_0:
        zoomToWhole();
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void WaveformStrip::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void WaveformStrip::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}
