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
        if (row >= 0 && row < TableData.size()) {
            const ItemRecordPtr& record = TableData.at(row);
            if (mPreviewRecord.lock() != record) {
                if (mAudioPreviewObject)
                    mAudioPreviewObject->stop();
                validatePlaybackButtons();
                setAudioPreviewObject(mServices.openMovie(record->pathColumn));
                const qint64 duration = mAudioPreviewObject ? mAudioPreviewObject->duration() : 0;
                playbackSlider->setMaximum(static_cast<int>(duration));
                timeScale = mAudioPreviewObject ? mAudioPreviewObject->timeScale() : 0;
                setCurrentPreviewPath(record->pathColumn);
                mPreviewRecord = record;
            }
        }
    }
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
