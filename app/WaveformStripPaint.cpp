// The waveform strip's drawing: silences, sound, file starts, marks and
// titles, the preview's place and the cursor.
#include "WaveformStrip.h"

#include "ChapterRow.h"
#include "DraftBook.h"
#include "PeakReader.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

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

