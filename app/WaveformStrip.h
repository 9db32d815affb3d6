#pragma once

#include "ItemRecord.h"

#include <QList>
#include <QWidget>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class DraftBook;
class PeakReader;
class QScrollBar;
class QTimer;

// The whole book's sound over time above the chapter list: each file's
// level from its peak summary, where each file starts, each chapter's mark
// and title, the proposed starts dashed, the silences a search found
// shaded, and the preview's place as a moving line. It zooms from the
// whole book to a few seconds. A click moves the preview there, a mark is
// dragged to move its chapter and a double-click adds one; the keyboard
// does all of it from a cursor of its own. Summaries are asked for as the
// strip is drawn, so that a window never shown reads none.
class WaveformStrip final : public QWidget
{
    Q_OBJECT
public:
    WaveformStrip(const DraftBook& book, PeakReader& peaks, QWidget* parent = nullptr);
    ~WaveformStrip() override;

    // Silences as a search found them in a file, in seconds of that file.
    struct FileSilences
    {
        ItemRecordPtr record;
        QList<std::pair<double, double>> spans;
    };
    void setSilences(QList<FileSilences> silences);
    // Where the preview plays now, each turn of a timer while it is shown.
    using PlaceSource = std::function<std::optional<std::pair<ItemRecordPtr, double>>()>;
    void setPreviewPlace(PlaceSource place);
    void setSnapToSilence(bool snap) { mSnap = snap; }
    [[nodiscard]] bool snapsToSilence() const { return mSnap; }

    // The chapter row shown as chosen, as the chapter list's selection; -1: none.
    void setChosenRow(int row);
    [[nodiscard]] int chosenRow() const { return mChosen; }

    // What is in view: from a time in the book, for so many seconds.
    [[nodiscard]] double viewStart() const { return mViewStart; }
    [[nodiscard]] double viewSeconds() const;
    void zoomTo(double start, double seconds);
    void zoomToWhole();
    // Nearer or farther by a factor, about a time that keeps its place.
    void zoomBy(double factor, double about);
    // Shows a chapter of the list whole, with a little either side.
    void zoomToRow(int row);

    [[nodiscard]] double cursorTime() const { return mCursor; }
    void setCursorTime(double seconds);

    // Where a time of the book is drawn, and the time at a place.
    [[nodiscard]] double xOf(double seconds) const;
    [[nodiscard]] double timeAt(double x) const;
    // Where the sound is drawn, below the titles.
    [[nodiscard]] QRect waveArea() const;
    // The chapter's mark, as it is drawn, in the strip's coordinates.
    [[nodiscard]] QRect markRect(int row) const;
    // The chapters and proposals drawn: the draft's, in their order.
    [[nodiscard]] int markCount() const;
    // A time of the book as it reads out: "1:02:03.4".
    [[nodiscard]] static QString timeText(double seconds);
    // A mark's chapter title and start, as it reads out.
    [[nodiscard]] QString markText(int row) const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

Q_SIGNALS:
    void markChosen(int row);
    // Dragged to a new start in the book, snapped already.
    void markMoved(int row, double start);
    void addRequested(const ItemRecordPtr& record, double offset);
    void seekRequested(const ItemRecordPtr& record, double offset);
    void playRequested(const ItemRecordPtr& record, double offset);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // A mark is held within this many pixels of it.
    static constexpr int kGrab = 4;
    // The titles' band above the sound.
    static constexpr int kTitleBand = 18;

    // Each file's start in the book, and the book's end after them.
    [[nodiscard]] std::vector<double> fileStarts() const;
    // The file playing at a time of the book, and how far into it.
    [[nodiscard]] std::optional<std::pair<ItemRecordPtr, double>> placeAt(double seconds) const;
    [[nodiscard]] double bookLength() const;
    [[nodiscard]] int markAt(double x) const;
    // The quietest point near a time, when snapping; else the time.
    [[nodiscard]] double snapped(double seconds) const;
    // One frame of the file's audio at the cursor, in seconds.
    [[nodiscard]] double frameAt(double seconds) const;
    void moveCursor(double seconds);
    void keepInView(double seconds);
    void syncScrollBar();
    void pollPreview();
    // Asks for the summaries of the files whose lengths are known: those in
    // view first, as the strip draws.
    void requestPeaks(const std::vector<double>& starts);
    void marksChanged();
    void drawWave(QPainter& painter, const QRect& area, const std::vector<double>& starts) const;
    void drawMarks(QPainter& painter, const QRect& area) const;

    const DraftBook& mBook;
    PeakReader& mPeaks;
    QScrollBar* mScroll;
    QTimer* mPreviewTimer;
    PlaceSource mPreviewPlace;
    std::optional<double> mPlayhead;
    QList<FileSilences> mSilences;
    double mViewStart = 0;
    // Seconds a pixel; 0 shows the whole book, whatever its length.
    double mScale = 0;
    double mCursor = 0;
    int mChosen = -1;
    bool mSnap = true;
    // A mark held by the mouse, and where it would go.
    int mDragRow = -1;
    bool mDragging = false;
    double mDragTo = 0;
    QPoint mPressedAt;
    bool mPressed = false;
};
