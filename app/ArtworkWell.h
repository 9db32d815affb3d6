#pragma once

#include <QFrame>
#include <QImage>

// The tag sheet's cover art: shows an image, and takes one dropped on it.
class ArtworkWell : public QFrame
{
    Q_OBJECT
public:
    explicit ArtworkWell(QWidget* parent = nullptr);

    [[nodiscard]] const QImage& image() const { return mImage; }
    void setImage(const QImage& image);
    // Loads an image file; false when it is not one.
    bool setImageFromFile(const QString& path);

Q_SIGNALS:
    void imageChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QImage mImage;
};
