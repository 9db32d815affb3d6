#include "WaveformStrip.h"

#include "AudioKind.h"
#include "ChapterRow.h"
#include "DraftBook.h"
#include "PeakReader.h"
#include "WaveformAccessible.h"

#include <QAccessible>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// The nearest the strip zooms: this many seconds across it.
constexpr double kNearestView = 2.0;
// Snapping looks this far either side for the quietest point.
constexpr double kSnapReach = 0.25;

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
    const bool mp3 = place && AudioKind::of(place->first->pathColumn) == AudioKind::Kind::Mp3;
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
