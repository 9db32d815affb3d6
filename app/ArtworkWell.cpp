#include "ArtworkWell.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {
QImage imageFrom(const QMimeData* mime)
{
    if (mime->hasImage())
        return qvariant_cast<QImage>(mime->imageData());
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            QImage image(url.toLocalFile());
            if (!image.isNull())
                return image;
        }
    }
    return {};
}
} // namespace

ArtworkWell::ArtworkWell(QWidget* parent) : QFrame(parent)
{
    setAcceptDrops(true);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
}

void ArtworkWell::setImage(const QImage& image)
{
    mImage = image;
    // A screen reader tells whether there is a cover, and how large.
    setAccessibleDescription(
        image.isNull() ? u"No cover: drop a cover image here, or choose one"_s
                       : u"A cover of %1 \u00d7 %2 pixels; drop another image here to replace it"_s
                             .arg(image.width())
                             .arg(image.height()));
    update();
    Q_EMIT imageChanged();
}

bool ArtworkWell::setImageFromFile(const QString& path)
{
    QImage image(path);
    if (image.isNull())
        return false;
    setImage(image);
    return true;
}

void ArtworkWell::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(4, 4, -4, -4);
    if (mImage.isNull()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, u"Drop cover art here"_s);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QSize shown = mImage.size().scaled(area.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(), shown);
    target.moveCenter(area.center());
    painter.drawImage(target, mImage);
}

void ArtworkWell::dragEnterEvent(QDragEnterEvent* event)
{
    if (!imageFrom(event->mimeData()).isNull())
        event->acceptProposedAction();
}

void ArtworkWell::dropEvent(QDropEvent* event)
{
    const QImage image = imageFrom(event->mimeData());
    if (image.isNull())
        return;
    setImage(image);
    event->acceptProposedAction();
}
