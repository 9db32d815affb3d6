// The audio preview of the selected file: play, pause, step and seek.
#include "AppController.h"
#include "AudiobookTableView.h"
#include "Resources.h"

#include <QPushButton>
#include <QSlider>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

void AppController::setAudioPreviewObject(std::unique_ptr<Movie> movie)
{
    if (mAudioPreviewObject)
        mAudioPreviewObject->stop();
    mAudioPreviewObject = std::move(movie);
}

void AppController::setPreviewTimer(std::unique_ptr<QTimer> timer)
{
    if (mPreviewTimer)
        mPreviewTimer->stop();
    mPreviewTimer = std::move(timer);
}

void AppController::setCurrentPreviewPath(const std::optional<QString>& path)
{
    mCurrentPreviewPath = path;
}

bool AppController::isPlaying(const Movie* movie) const
{
    return movie && movie->rate() != 0.0F;
}

void AppController::tableViewSelectionDidChange()
{
    if (atLeastOneSelected()) {
        const int row = mainTable->selectedRow();
        if (row >= 0 && row < TableData.size() && TableData.at(row) != mPreviewRecord)
            loadPreview(TableData.at(row));
    }
    validatePlaybackButtons();
}

// The file opens in the background, so the window keeps answering; until it
// has opened, no file is loaded and the controls do nothing.
void AppController::loadPreview(const ItemRecordPtr& record)
{
    if (mAudioPreviewObject)
        mAudioPreviewObject->stop();
    validatePlaybackButtons();
    setAudioPreviewObject(nullptr);
    playbackSlider->setMaximum(0);
    setCurrentPreviewPath(record->pathColumn);
    mPreviewRecord = record;
    mLoadingMovie = mServices.openMovie(record->pathColumn);
    if (mLoadingMovie)
        mLoadingMovie->whenLoaded([this](bool playable) { previewDidLoad(playable); });
}

void AppController::previewDidLoad(bool playable)
{
    // The movie reports from inside its own player: it must not be destroyed here.
    std::unique_ptr<Movie> loaded = std::move(mLoadingMovie);
    auto releaseLater = [this](std::unique_ptr<Movie> movie) {
        QTimer::singleShot(0, this, [movie = std::shared_ptr<Movie>(std::move(movie))] {});
    };
    // Rows may have moved or arrived meanwhile: the preview follows the selection.
    const int row = atLeastOneSelected() ? mainTable->selectedRow() : -1;
    if (row >= 0 && row < TableData.size() && TableData.at(row) != mPreviewRecord) {
        releaseLater(std::move(loaded));
        loadPreview(TableData.at(row));
        validatePlaybackButtons();
        return;
    }
    if (playable)
        setAudioPreviewObject(std::move(loaded));
    else
        releaseLater(std::move(loaded));
    const qint64 duration = mAudioPreviewObject ? mAudioPreviewObject->duration() : 0;
    playbackSlider->setMaximum(static_cast<int>(duration));
    if (mPendingPlay && mPendingPlay->record == mPreviewRecord && mAudioPreviewObject) {
        mAudioPreviewObject->setCurrentTime(mPendingPlay->at);
        playbackSlider->setValue(static_cast<int>(mPendingPlay->at));
        playPreview();
    }
    mPendingPlay.reset();
    validatePlaybackButtons();
}

void AppController::playPreview(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    if (isPlaying(mAudioPreviewObject.get())) {
        mAudioPreviewObject->stop();
        setPreviewTimer(nullptr);
    } else {
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(200);
        connect(timer.get(), &QTimer::timeout, this, [this] { checkPlaybackStatus(); });
        timer->start();
        setPreviewTimer(std::move(timer));
        mAudioPreviewObject->play();
    }
    validatePlaybackButtons();
}

void AppController::rewindPreview(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    mAudioPreviewObject->stepBackward();
    mAudioPreviewObject->play();
}

void AppController::fastForwardPreview(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    mAudioPreviewObject->stepForward();
    mAudioPreviewObject->play();
}

void AppController::changePlaybackPosition(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    mAudioPreviewObject->setCurrentTime(static_cast<qint64>(playbackSlider->sliderPosition()));
}

void AppController::checkPlaybackStatus(QObject*)
{
    // The handle stays where the user holds it.
    if (!mAudioPreviewObject || playbackSlider->isSliderDown())
        return;
    playbackSlider->setValue(static_cast<int>(mAudioPreviewObject->currentTime()));
}

void AppController::validatePlaybackButtons()
{
    const bool playing = isPlaying(mAudioPreviewObject.get());
    if (!mainTable->selectedRowIndexes().isEmpty()) {
        for (QWidget* control :
             {static_cast<QWidget*>(ppButton), static_cast<QWidget*>(rwButton),
              static_cast<QWidget*>(ffButton), static_cast<QWidget*>(playbackSlider)})
            control->setEnabled(true);
    } else if (!playing) {
        for (QWidget* control :
             {static_cast<QWidget*>(ppButton), static_cast<QWidget*>(rwButton),
              static_cast<QWidget*>(ffButton), static_cast<QWidget*>(playbackSlider)})
            control->setEnabled(false);
        playbackSlider->setValue(0);
    }
    setPlayPauseImage(playing ? u"pause"_s : u"play"_s);
}

void AppController::setPlayPauseImage(const QString& name)
{
    if (ppButton->property("imageName").toString() == name)
        return;
    ppButton->setProperty("imageName", name);
    if (const auto path = Resources::pathForResource(name, u"png"_s))
        ppButton->setIcon(QIcon(*path));
    ppButton->setToolTip(name == u"pause"_s ? u"Pause"_s : u"Play the selected file"_s);
}
