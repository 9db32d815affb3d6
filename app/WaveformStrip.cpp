#include "WaveformStrip.h"

#include "ChapterRow.h"
#include "DraftBook.h"
#include "PeakReader.h"
#include "WaveformAccessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// The nearest the strip zooms: this many seconds across it.
constexpr double kNearestView = 2.0;
// A mark is held within this many pixels of it.
constexpr int kGrab = 4;
// Snapping looks this far either side for the quietest point.
constexpr double kSnapReach = 0.25;
constexpr int kTitleBand = 18;

QColor mixed(const QColor& a, const QColor& b, double share)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() * share + b.redF() * (1 - share)),
                            static_cast<float>(a.greenF() * share + b.greenF() * (1 - share)),
                            static_cast<float>(a.blueF() * share + b.blueF() * (1 - share)));
}

bool dark(const QPalette& palette)
{
    return palette.color(QPalette::Base).lightnessF() < 0.5;
}

} // namespace

QString WaveformStrip::timeText(double seconds)
{
    const auto tenths = static_cast<qint64>(std::llround(std::max(seconds, 0.0) * 10));
    return u"%1:%2:%3.%4"_s.arg(tenths / 36000)
        .arg(tenths / 600 % 60, 2, 10, QChar(u'0'))
        .arg(tenths / 10 % 60, 2, 10, QChar(u'0'))
        .arg(tenths % 10);
}

WaveformStrip::WaveformStrip(const DraftBook& book, PeakReader& peaks, QWidget* parent)
    : QWidget(parent), mBook(book), mPeaks(peaks), mScroll(new QScrollBar(Qt::Horizontal, this)),
      mPreviewTimer(new QTimer(this))
{
    WaveformAccessible::install();
    setObjectName(u"waveform"_s);
    setAccessibleName(u"Waveform"_s);
    setAccessibleDescription(
        u"The book's sound over time with its chapter marks. Left and Right move the cursor by a "
        "second, with Shift by a tenth, with Control by a frame; Page Up and Page Down go to the "
        "marks; Insert adds a chapter at the cursor; Alt with Left or Right moves the chosen "
        "chapter; Delete removes it; Space plays from the cursor; plus and minus zoom"_s);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    mScroll->setAccessibleName(u"Waveform position"_s);
    mScroll->setFocusPolicy(Qt::NoFocus);
    mScroll->hide();
    connect(mScroll, &QScrollBar::valueChanged, this, [this](int ms) {
        if (mScale <= 0)
            return;
        mViewStart = ms / 1000.0;
        update();
    });
    const auto changed = [this] { marksChanged(); };
    connect(&mBook, &DraftBook::chaptersChanged, this, changed);
    connect(&mBook, &DraftBook::filesInserted, this, changed);
    connect(&mBook, &DraftBook::filesRemoved, this, changed);
    connect(&mBook, &DraftBook::filesRearranged, this, changed);
    connect(&mBook, &DraftBook::detailsRead, this, changed);
    connect(&mPeaks, &PeakReader::summaryReady, this, [this] { update(); });
    mPreviewTimer->setInterval(50);
    connect(mPreviewTimer, &QTimer::timeout, this, [this] { pollPreview(); });
}

WaveformStrip::~WaveformStrip() = default;

QSize WaveformStrip::sizeHint() const
{
    return {600, 120};
}

QSize WaveformStrip::minimumSizeHint() const
{
    return {200, 80};
}

void WaveformStrip::setSilences(QList<FileSilences> silences)
{
    mSilences = std::move(silences);
    update();
}

void WaveformStrip::setPreviewPlace(PlaceSource place)
{
    mPreviewPlace = std::move(place);
    if (mPreviewPlace)
        mPreviewTimer->start();
    else
        mPreviewTimer->stop();
}

void WaveformStrip::setChosenRow(int row)
{
    if (row == mChosen)
        return;
    mChosen = row;
    if (row >= 0 && row < markCount()) {
        mCursor = mBook.chapters().at(row).start;
        keepInView(mCursor);
        if (hasFocus()) {
            QAccessibleEvent focus(this, QAccessible::Focus);
            focus.setChild(row);
            QAccessible::updateAccessibility(&focus);
        }
    }
    update();
}

std::vector<double> WaveformStrip::fileStarts() const
{
    std::vector<double> starts;
    starts.reserve(static_cast<std::size_t>(mBook.files().size()) + 1);
    double at = 0;
    for (const ItemRecordPtr& record : mBook.files()) {
        starts.push_back(at);
        at += record->lengthColumn.value_or(0);
    }
    starts.push_back(at);
    return starts;
}

double WaveformStrip::bookLength() const
{
    return mBook.length();
}

std::optional<std::pair<ItemRecordPtr, double>> WaveformStrip::placeAt(double seconds) const
{
    const std::vector<double> starts = fileStarts();
    if (mBook.files().isEmpty())
        return std::nullopt;
    const auto after = std::upper_bound(starts.begin(), starts.end() - 1, seconds);
    const auto row = std::max<qsizetype>(0, std::distance(starts.begin(), after) - 1);
    const ItemRecordPtr& record = mBook.files().at(row);
    const double offset = std::clamp(seconds - starts[static_cast<std::size_t>(row)], 0.0,
                                     record->lengthColumn.value_or(0));
    return std::pair{record, offset};
}

QRect WaveformStrip::waveArea() const
{
    return {0, kTitleBand, width(),
            std::max(1, height() - kTitleBand - mScroll->sizeHint().height())};
}

double WaveformStrip::viewSeconds() const
{
    const double whole = std::max(bookLength(), kNearestView);
    return mScale > 0 ? std::min(mScale * width(), whole) : whole;
}

double WaveformStrip::xOf(double seconds) const
{
    return (seconds - (mScale > 0 ? mViewStart : 0)) / viewSeconds() * width();
}

double WaveformStrip::timeAt(double x) const
{
    return (mScale > 0 ? mViewStart : 0) + x / std::max(1, width()) * viewSeconds();
}

void WaveformStrip::zoomTo(double start, double seconds)
{
    const double whole = bookLength();
    seconds = std::max(seconds, kNearestView);
    if (width() <= 0 || seconds >= whole) {
        zoomToWhole();
        return;
    }
    mScale = seconds / width();
    mViewStart = std::clamp(start, 0.0, whole - seconds);
    syncScrollBar();
    update();
}

void WaveformStrip::zoomToWhole()
{
    mScale = 0;
    mViewStart = 0;
    syncScrollBar();
    update();
}

void WaveformStrip::zoomBy(double factor, double about)
{
    const double seconds = viewSeconds() / factor;
    const double share = (about - timeAt(0)) / viewSeconds();
    zoomTo(about - share * seconds, seconds);
}

void WaveformStrip::zoomToRow(int row)
{
    if (row < 0 || row >= markCount())
        return;
    const ChapterRow& chapter = mBook.chapters().at(row);
    const double length = chapter.length > 0 ? chapter.length : kNearestView;
    zoomTo(chapter.start - length * 0.02, length * 1.04);
    setCursorTime(chapter.start);
}

void WaveformStrip::syncScrollBar()
{
    const QSignalBlocker quiet(mScroll);
    const double whole = bookLength();
    const double seconds = viewSeconds();
    mScroll->setVisible(mScale > 0);
    mScroll->setRange(0, static_cast<int>(std::max(0.0, (whole - seconds) * 1000)));
    mScroll->setPageStep(static_cast<int>(seconds * 1000));
    mScroll->setSingleStep(static_cast<int>(seconds * 100));
    mScroll->setValue(static_cast<int>(mViewStart * 1000));
}

void WaveformStrip::keepInView(double seconds)
{
    if (mScale <= 0)
        return;
    const double view = viewSeconds();
    if (seconds < mViewStart || seconds > mViewStart + view)
        zoomTo(seconds - view / 2, view);
}

void WaveformStrip::setCursorTime(double seconds)
{
    mCursor = std::clamp(seconds, 0.0, bookLength());
    keepInView(mCursor);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent moved(this, timeText(mCursor));
        QAccessible::updateAccessibility(&moved);
    }
    update();
}

void WaveformStrip::moveCursor(double seconds)
{
    setCursorTime(mCursor + seconds);
}

int WaveformStrip::markCount() const
{
    return static_cast<int>(mBook.chapters().size());
}

QString WaveformStrip::markText(int row) const
{
    if (row < 0 || row >= markCount())
        return {};
    const ChapterRow& chapter = mBook.chapters().at(row);
    if (chapter.proposed)
        return u"Proposed start, %1"_s.arg(timeText(chapter.start));
    return u"%1, %2"_s.arg(chapter.title.isEmpty() ? u"Chapter %1"_s.arg(row + 1) : chapter.title,
                           timeText(chapter.start));
}

QRect WaveformStrip::markRect(int row) const
{
    if (row < 0 || row >= markCount())
        return {};
    const double start = row == mDragRow && mDragging ? mDragTo : mBook.chapters().at(row).start;
    const int x = static_cast<int>(std::lround(xOf(start)));
    return {x - kGrab, 0, 2 * kGrab + 1, waveArea().bottom() + 1};
}

int WaveformStrip::markAt(double x) const
{
    int best = -1;
    double nearest = kGrab + 0.5;
    const QList<ChapterRow>& chapters = mBook.chapters();
    for (int row = 0; row < chapters.size(); ++row) {
        const double away = std::abs(xOf(chapters.at(row).start) - x);
        if (away < nearest) {
            nearest = away;
            best = row;
        }
    }
    return best;
}

double WaveformStrip::snapped(double seconds) const
{
    if (!mSnap)
        return seconds;
    const auto place = placeAt(seconds);
    if (!place)
        return seconds;
    const std::shared_ptr<const PeakSummary> peaks = mPeaks.summaryOf(place->first->pathColumn);
    if (!peaks)
        return seconds;
    const double fileStart = seconds - place->second;
    const auto quiet =
        peaks->quietest(place->second - kSnapReach, place->second + kSnapReach, place->second);
    return quiet ? fileStart + *quiet : seconds;
}

double WaveformStrip::frameAt(double seconds) const
{
    const auto place = placeAt(seconds);
    const int rate = place ? place->first->sampleFrequencyColumn.toInt() : 0;
    const bool mp3 = place && place->first->pathColumn.endsWith(u".mp3"_s, Qt::CaseInsensitive);
    return rate > 0 ? (mp3 ? 1152.0 : 1024.0) / rate : 0.026;
}

void WaveformStrip::pollPreview()
{
    if (!isVisible() || !mPreviewPlace)
        return;
    std::optional<double> playhead;
    if (const auto place = mPreviewPlace()) {
        const int row = mBook.rowOf(place->first);
        if (row >= 0)
            playhead = fileStarts()[static_cast<std::size_t>(row)] + place->second;
    }
    if (playhead != mPlayhead) {
        mPlayhead = playhead;
        update();
    }
}

void WaveformStrip::requestPeaks(const std::vector<double>& starts)
{
    // Not while files are still being read: their lengths come first.
    if (!mBook.allRead())
        return;
    const ItemList& files = mBook.files();
    const double from = timeAt(0);
    const double to = timeAt(width());
    std::vector<qsizetype> later;
    for (qsizetype row = 0; row < files.size(); ++row) {
        const ItemRecord& file = *files.at(row);
        if (!file.lengthColumn || mPeaks.summaryOf(file.pathColumn))
            continue;
        const bool inView = starts[static_cast<std::size_t>(row) + 1] >= from &&
                            starts[static_cast<std::size_t>(row)] <= to;
        if (inView)
            mPeaks.read(file.pathColumn, *file.lengthColumn);
        else
            later.push_back(row);
    }
    for (const qsizetype row : later)
        mPeaks.read(files.at(row)->pathColumn, *files.at(row)->lengthColumn);
}

void WaveformStrip::marksChanged()
{
    if (mChosen >= markCount())
        mChosen = -1;
    if (mScale > 0)
        syncScrollBar();
    WaveformAccessible::marksChanged(this);
    update();
}

void WaveformStrip::resizeEvent(QResizeEvent*)
{
    const int bar = mScroll->sizeHint().height();
    mScroll->setGeometry(0, height() - bar, width(), bar);
    if (mScale > 0)
        zoomTo(mViewStart, viewSeconds());
}

void WaveformStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colors = palette();
    painter.fillRect(rect(), colors.color(QPalette::Base));
    const QRect area = waveArea();
    const std::vector<double> starts = fileStarts();
    requestPeaks(starts);

    // Silences first, so that the sound and the marks lie over them.
    QColor shade = colors.color(QPalette::Highlight);
    shade.setAlphaF(dark(colors) ? 0.30F : 0.18F);
    for (const FileSilences& file : mSilences) {
        const int row = mBook.rowOf(file.record);
        if (row < 0)
            continue;
        const double at = starts[static_cast<std::size_t>(row)];
        for (const auto& [from, to] : file.spans) {
            const double left = xOf(at + from);
            const double right = xOf(at + to);
            if (right >= 0 && left <= width())
                painter.fillRect(
                    QRectF(left, area.top(), std::max(right - left, 1.0), area.height()), shade);
        }
    }
    drawWave(painter, area, starts);

    // Where each file starts, faintly.
    QPen boundary(mixed(colors.color(QPalette::Text), colors.color(QPalette::Base), 0.35), 0,
                  Qt::DotLine);
    painter.setPen(boundary);
    for (std::size_t row = 1; row + 1 < starts.size(); ++row) {
        const double x = xOf(starts[row]);
        if (x >= 0 && x <= width())
            painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    }
    drawMarks(painter, area);

    if (mPlayhead) {
        painter.setPen(QPen(dark(colors) ? QColor(0xff, 0x6b, 0x5e) : QColor(0xd0, 0x2b, 0x20), 2));
        const double x = xOf(*mPlayhead);
        painter.drawLine(QPointF(x, 0), QPointF(x, area.bottom()));
    }
    if (hasFocus()) {
        painter.setPen(QPen(colors.color(QPalette::Text), 0, Qt::DashLine));
        const double x = xOf(mCursor);
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        painter.setPen(QPen(colors.color(QPalette::Highlight), 0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void WaveformStrip::drawWave(QPainter& painter, const QRect& area,
                             const std::vector<double>& starts) const
{
    // One line a device pixel, from the loudest peak that the pixel covers.
    const double ratio = painter.device()->devicePixelRatioF();
    const int columns = static_cast<int>(std::ceil(width() * ratio));
    const double middle = area.top() + area.height() / 2.0;
    const double half = area.height() / 2.0 - 1;
    QList<QRectF> bars;
    bars.reserve(columns);
    const ItemList& files = mBook.files();
    std::size_t row = 0;
    for (int column = 0; column < columns; ++column) {
        const double x = column / ratio;
        const double from = timeAt(x);
        const double to = timeAt(x + 1 / ratio);
        while (row + 1 < starts.size() - 1 && starts[row + 1] <= from)
            ++row;
        quint8 loudest = 0;
        for (std::size_t r = row; r + 1 < starts.size() && starts[r] < to; ++r) {
            if (const auto peaks =
                    mPeaks.summaryOf(files.at(static_cast<qsizetype>(r))->pathColumn))
                loudest = std::max(loudest, peaks->loudest(from - starts[r], to - starts[r]));
        }
        if (loudest == 0)
            continue;
        const double reach = std::max(0.5, half * loudest / 255.0);
        bars.append(QRectF(x, middle - reach, 1 / ratio, 2 * reach));
    }
    const QPalette& colors = palette();
    // Rectangles a device pixel wide, which fill every pixel at any scale.
    painter.setPen(Qt::NoPen);
    painter.setBrush(mixed(colors.color(QPalette::Text), colors.color(QPalette::Base), 0.6));
    painter.drawRects(bars);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(
        QPen(mixed(colors.color(QPalette::Text), colors.color(QPalette::Base), 0.25), 0));
    painter.drawLine(QPointF(0, middle), QPointF(width(), middle));
}

void WaveformStrip::drawMarks(QPainter& painter, const QRect& area) const
{
    const QPalette& colors = palette();
    const QColor chapterColor = colors.color(QPalette::Highlight);
    const QColor proposalColor = dark(colors) ? QColor(0xf2, 0xb3, 0x4a) : QColor(0xb0, 0x5f, 0x00);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    painter.setFont(small);
    const QFontMetrics metrics(small);
    const QList<ChapterRow>& chapters = mBook.chapters();
    for (int row = 0; row < chapters.size(); ++row) {
        const ChapterRow& chapter = chapters.at(row);
        const double start = row == mDragRow && mDragging ? mDragTo : chapter.start;
        const double x = xOf(start);
        if (x < -kGrab || x > width() + kGrab)
            continue;
        const bool chosen = row == mChosen;
        const QColor color = chapter.proposed ? proposalColor : chapterColor;
        painter.setPen(
            QPen(color, chosen ? 3 : 1.5, chapter.proposed ? Qt::DashLine : Qt::SolidLine));
        painter.drawLine(QPointF(x, 2), QPointF(x, area.bottom()));
        // The title, to the next mark's place at most.
        double room = width() - x - 4;
        for (int next = row + 1; next < chapters.size(); ++next) {
            const double nextX = xOf(chapters.at(next).start);
            if (nextX > x + 1) {
                room = std::min(room, nextX - x - 6);
                break;
            }
        }
        const QString title = chapter.proposed          ? u"Proposed"_s
                              : chapter.title.isEmpty() ? u"Chapter %1"_s.arg(row + 1)
                                                        : chapter.title;
        if (room < metrics.averageCharWidth() * 3)
            continue;
        const QString shown = metrics.elidedText(title, Qt::ElideRight, static_cast<int>(room));
        QFont face = small;
        face.setBold(chosen);
        face.setItalic(chapter.proposed);
        painter.setFont(face);
        painter.setPen(chapter.proposed ? proposalColor : colors.color(QPalette::Text));
        painter.drawText(QRectF(x + 4, 0, room, kTitleBand), Qt::AlignVCenter | Qt::AlignLeft,
                         shown);
    }
}

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
