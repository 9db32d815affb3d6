#pragma once

#include "ItemRecord.h"
#include "Movie.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <utility>

class DraftBook;
class QTimer;
namespace Ui {
class MainWindow;
}

// The preview of the selected file: play and pause, rewind and fast-forward
// by steps, the slider to seek, and a chapter played from its start. The
// file opens in the background, so the window keeps answering; until it has
// opened, no file is loaded and the controls do nothing.
class AudioPreview final : public QObject
{
    Q_OBJECT
public:
    // Its controls are the main window's, beside the list.
    AudioPreview(const DraftBook& book, const Ui::MainWindow& window, MovieOpener openMovie,
                 QObject* parent = nullptr);
    ~AudioPreview() override;

    void tableViewSelectionDidChange();
    void playPreview(QObject* sender = nullptr);
    void rewindPreview(QObject* sender = nullptr);
    void fastForwardPreview(QObject* sender = nullptr);
    void changePlaybackPosition(QObject* sender = nullptr);
    void checkPlaybackStatus(QObject* timer = nullptr);
    [[nodiscard]] bool isPlaying(const Movie* movie) const;
    void validatePlaybackButtons();
    [[nodiscard]] Movie* audioPreviewObject() const { return mAudioPreviewObject.get(); }
    void setAudioPreviewObject(std::unique_ptr<Movie> movie);
    [[nodiscard]] QTimer* previewTimer() const { return mPreviewTimer.get(); }
    void setPreviewTimer(std::unique_ptr<QTimer> timer);
    [[nodiscard]] const std::optional<QString>& currentPreviewPath() const
    {
        return mCurrentPreviewPath;
    }
    void setCurrentPreviewPath(const std::optional<QString>& path) { mCurrentPreviewPath = path; }

    // Plays a file from a time in it, in ms: at once when it is loaded,
    // else once its row is selected and it has loaded.
    void play(const ItemRecordPtr& record, qint64 at);
    // Moves the preview to a time in a file, in ms, playing on only if it was.
    void seek(const ItemRecordPtr& record, qint64 at);
    // The file loaded and where it plays, in seconds; none without one.
    [[nodiscard]] std::optional<std::pair<ItemRecordPtr, double>> place() const;
    // Stops playing: for every file, or for a file about to leave the list.
    void stop();
    void stopIfLeaving(const QString& path);

private:
    void loadPreview(const ItemRecordPtr& record);
    void previewDidLoad(bool playable);
    void setPlayPauseImage(const QString& name);

    const DraftBook& mBook;
    const Ui::MainWindow& mControls;
    MovieOpener mOpenMovie;
    std::unique_ptr<Movie> mAudioPreviewObject;
    std::unique_ptr<QTimer> mPreviewTimer;
    std::optional<QString> mCurrentPreviewPath;
    // The record whose file is loaded or loading; a moved row is a new record.
    ItemRecordPtr mPreviewRecord;
    // The file that is opening, not yet the loaded one.
    std::unique_ptr<Movie> mLoadingMovie;
    // A chapter to play once its file has loaded.
    struct PendingPlay
    {
        ItemRecordPtr record;
        qint64 at = 0;
        bool start = true;
    };
    std::optional<PendingPlay> mPendingPlay;
};
