// Draws the application's images and makes its completion sound, so that the
// resource directory is built from source alone.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace {

const QColor kInk(0x33, 0x33, 0x33);

QImage canvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage playImage()
{
    QImage image = canvas(64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(18, 10);
    triangle.lineTo(54, 32);
    triangle.lineTo(18, 54);
    triangle.closeSubpath();
    p.setPen(QPen(kInk, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kInk);
    p.drawPath(triangle);
    return image;
}

QImage pauseImage()
{
    QImage image = canvas(64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(14, 10, 13, 44), 4, 4);
    p.drawRoundedRect(QRectF(37, 10, 13, 44), 4, 4);
    return image;
}

QImage appIcon(int size)
{
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0, QColor(0xf0, 0x93, 0x3c));
    background.setColorAt(1, QColor(0xb8, 0x3b, 0x2a));
    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);

    // An open book...
    p.setBrush(Qt::white);
    QPainterPath left;
    left.moveTo(128, 120);
    left.cubicTo(100, 104, 68, 102, 40, 110);
    left.lineTo(40, 206);
    left.cubicTo(68, 198, 100, 200, 128, 216);
    left.closeSubpath();
    QPainterPath right;
    right.moveTo(128, 120);
    right.cubicTo(156, 104, 188, 102, 216, 110);
    right.lineTo(216, 206);
    right.cubicTo(188, 198, 156, 200, 128, 216);
    right.closeSubpath();
    p.drawPath(left);
    p.drawPath(right);
    p.setPen(QPen(QColor(0xb8, 0x3b, 0x2a), 5));
    p.drawLine(QPointF(128, 122), QPointF(128, 212));

    // ...with a small flame above it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xe0, 0x82));
    QPainterPath flame;
    flame.moveTo(128, 34);
    flame.cubicTo(152, 62, 150, 92, 128, 98);
    flame.cubicTo(106, 92, 104, 62, 128, 34);
    p.drawPath(flame);
    return image;
}

void putBigEndian(QByteArray& out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A soft two-note chime as 16-bit mono AIFF.
QByteArray chime()
{
    constexpr int rate = 44100;
    constexpr int frames = rate * 7 / 10;
    QByteArray samples;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double first = std::sin(2 * std::numbers::pi * 880.0 * t) * std::exp(-6.0 * t);
        const double second = t < 0.12 ? 0.0
                                       : std::sin(2 * std::numbers::pi * 1318.5 * (t - 0.12)) *
                                             std::exp(-5.0 * (t - 0.12));
        const double attack = std::min(1.0, t / 0.005);
        const auto value = static_cast<qint16>(attack * 0.35 * (first + second) * 32767.0);
        putBigEndian(samples, static_cast<quint16>(value), 2);
    }
    QByteArray comm;
    putBigEndian(comm, 1, 2);                                 // channels
    putBigEndian(comm, frames, 4);                            // sample frames
    putBigEndian(comm, 16, 2);                                // bits per sample
    comm.append(QByteArray::fromHex("400EAC44000000000000")); // 44100 as 80-bit extended
    QByteArray ssnd;
    putBigEndian(ssnd, 0, 4);
    putBigEndian(ssnd, 0, 4);
    ssnd.append(samples);

    QByteArray body = "AIFF";
    body += "COMM";
    putBigEndian(body, static_cast<quint64>(comm.size()), 4);
    body += comm;
    body += "SSND";
    putBigEndian(body, static_cast<quint64>(ssnd.size()), 4);
    body += ssnd;
    QByteArray file = "FORM";
    putBigEndian(file, static_cast<quint64>(body.size()), 4);
    file += body;
    return file;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: resgen RESOURCE_DIR ICON_DIR\n");
        return 2;
    }
    const QString resources = QString::fromLocal8Bit(argv[1]);
    const QString icons = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(resources);
    bool ok = playImage().save(resources + u"/play.png"_s) &&
              pauseImage().save(resources + u"/pause.png"_s) &&
              appIcon(256).save(resources + u"/fablewick.png"_s) &&
              write(resources + u"/complete.aiff"_s, chime());
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString dir = icons + u"/%1x%1/apps"_s.arg(size);
        ok = ok && QDir().mkpath(dir) && appIcon(size).save(dir + u"/fablewick.png"_s);
    }
    if (!ok) {
        std::fprintf(stderr, "resgen: could not write the resources\n");
        return 1;
    }
    return 0;
}
