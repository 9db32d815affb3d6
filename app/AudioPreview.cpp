#include "AudioPreview.h"

#include "AudiobookTableView.h"
#include "DraftBook.h"
#include "Resources.h"
#include "ui_MainWindow.h"

#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

AudioPreview::AudioPreview(const DraftBook& book, const Ui::MainWindow& window,
                           MovieOpener openMovie, QObject* parent)
    : QObject(parent), mBook(book), mControls(window), mOpenMovie(std::move(openMovie))
{
    connect(mControls.ppButton, &QPushButton::clicked, this,
            [this] { playPreview(mControls.ppButton); });
    connect(mControls.rwButton, &QPushButton::clicked, this,
            [this] { rewindPreview(mControls.rwButton); });
    connect(mControls.ffButton, &QPushButton::clicked, this,
            [this] { fastForwardPreview(mControls.ffButton); });
    connect(mControls.playbackSlider, &QSlider::sliderReleased, this,
            [this] { changePlaybackPosition(mControls.playbackSlider); });
    // Clicks beside the handle and keys move it without a drag.
    connect(mControls.playbackSlider, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QTimer::singleShot(0, this, [this] { changePlaybackPosition(mControls.playbackSlider); });
    });
    for (QPushButton* button : {mControls.ffButton, mControls.rwButton}) {
        button->setAutoRepeatDelay(100);
        button->setAutoRepeatInterval(300);
    }
    setCurrentPreviewPath(std::nullopt);
    setAudioPreviewObject(mOpenMovie ? mOpenMovie(std::nullopt) : nullptr);
    if (mAudioPreviewObject)
        mAudioPreviewObject->stop();
}

AudioPreview::~AudioPreview() = default;

void AudioPreview::setAudioPreviewObject(std::unique_ptr<Movie> movie)
{
    if (mAudioPreviewObject)
        mAudioPreviewObject->stop();
    mAudioPreviewObject = std::move(movie);
}

void AudioPreview::setPreviewTimer(std::unique_ptr<QTimer> timer)
{
    if (mPreviewTimer)
        mPreviewTimer->stop();
    mPreviewTimer = std::move(timer);
}

bool AudioPreview::isPlaying(const Movie* movie) const
{
    return movie && movie->rate() != 0.0F;
}

void AudioPreview::stop()
{
    if (!isPlaying(mAudioPreviewObject.get()))
        return;
    mAudioPreviewObject->stop();
    setPreviewTimer(nullptr);
}

void AudioPreview::stopIfLeaving(const QString& path)
{
    if (path == mCurrentPreviewPath)
        stop();
}

void AudioPreview::tableViewSelectionDidChange()
{
    const QList<int> selected = mControls.mainTable->selectedRowIndexes();
    if (!selected.isEmpty()) {
        const int row = mControls.mainTable->selectedRow();
        if (row >= 0 && row < mBook.files().size() && mBook.files().at(row) != mPreviewRecord)
            loadPreview(mBook.files().at(row));
    }
    validatePlaybackButtons();
}

void AudioPreview::loadPreview(const ItemRecordPtr& record)
{
    if (mAudioPreviewObject)
        mAudioPreviewObject->stop();
    validatePlaybackButtons();
    setAudioPreviewObject(nullptr);
    mControls.playbackSlider->setMaximum(0);
    setCurrentPreviewPath(record->pathColumn);
    mPreviewRecord = record;
    mLoadingMovie = mOpenMovie ? mOpenMovie(record->pathColumn) : nullptr;
    if (mLoadingMovie)
        mLoadingMovie->whenLoaded([this](bool playable) { previewDidLoad(playable); });
}

void AudioPreview::previewDidLoad(bool playable)
{
    // The movie reports from inside its own player: it must not be destroyed here.
    std::unique_ptr<Movie> loaded = std::move(mLoadingMovie);
    auto releaseLater = [this](std::unique_ptr<Movie> movie) {
        QTimer::singleShot(0, this, [movie = std::shared_ptr<Movie>(std::move(movie))] {});
    };
    // Rows may have moved or arrived meanwhile: the preview follows the selection.
    const int row = mControls.mainTable->selectedRowIndexes().isEmpty() ? -1
                                                                    : mControls.mainTable->selectedRow();
    if (row >= 0 && row < mBook.files().size() && mBook.files().at(row) != mPreviewRecord) {
        releaseLater(std::move(loaded));
        loadPreview(mBook.files().at(row));
        validatePlaybackButtons();
        return;
    }
    if (playable)
        setAudioPreviewObject(std::move(loaded));
    else
        releaseLater(std::move(loaded));
    const qint64 duration = mAudioPreviewObject ? mAudioPreviewObject->duration() : 0;
    mControls.playbackSlider->setMaximum(static_cast<int>(duration));
    if (mPendingPlay && mPendingPlay->record == mPreviewRecord && mAudioPreviewObject) {
        mAudioPreviewObject->setCurrentTime(mPendingPlay->at);
        mControls.playbackSlider->setValue(static_cast<int>(mPendingPlay->at));
        if (mPendingPlay->start)
            playPreview();
    }
    mPendingPlay.reset();
    validatePlaybackButtons();
}

void AudioPreview::playPreview(QObject*)
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

void AudioPreview::rewindPreview(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    mAudioPreviewObject->stepBackward();
    mAudioPreviewObject->play();
}

void AudioPreview::fastForwardPreview(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    mAudioPreviewObject->stepForward();
    mAudioPreviewObject->play();
}

void AudioPreview::changePlaybackPosition(QObject*)
{
    if (!mAudioPreviewObject)
        return;
    mAudioPreviewObject->setCurrentTime(static_cast<qint64>(mControls.playbackSlider->sliderPosition()));
}

void AudioPreview::checkPlaybackStatus(QObject*)
{
    // The handle stays where the user holds it.
    if (!mAudioPreviewObject || mControls.playbackSlider->isSliderDown())
        return;
    mControls.playbackSlider->setValue(static_cast<int>(mAudioPreviewObject->currentTime()));
}

void AudioPreview::validatePlaybackButtons()
{
    const bool playing = isPlaying(mAudioPreviewObject.get());
    const bool selected = !mControls.mainTable->selectedRowIndexes().isEmpty();
    if (selected || !playing) {
        for (QWidget* control :
             {static_cast<QWidget*>(mControls.ppButton), static_cast<QWidget*>(mControls.rwButton),
              static_cast<QWidget*>(mControls.ffButton), static_cast<QWidget*>(mControls.playbackSlider)})
            control->setEnabled(selected);
    }
    if (!selected && !playing)
        mControls.playbackSlider->setValue(0);
    setPlayPauseImage(playing ? u"pause"_s : u"play"_s);
}

void AudioPreview::setPlayPauseImage(const QString& name)
{
    QPushButton* button = mControls.ppButton;
    if (button->property("imageName").toString() == name)
        return;
    button->setProperty("imageName", name);
    if (const auto path = Resources::pathForResource(name, u"png"_s))
        button->setIcon(QIcon(*path));
    button->setToolTip(name == u"pause"_s ? u"Pause"_s : u"Play the selected file"_s);
}

void AudioPreview::play(const ItemRecordPtr& record, qint64 at)
{
    if (record == mPreviewRecord && mAudioPreviewObject) {
        mAudioPreviewObject->setCurrentTime(at);
        if (!isPlaying(mAudioPreviewObject.get()))
            playPreview();
        return;
    }
    // The file loads in the background; it plays from there once it has.
    mPendingPlay = PendingPlay{record, at};
    const int row = mBook.rowOf(record);
    if (row >= 0)
        mControls.mainTable->selectRowIndexes({row}, false);
}

void AudioPreview::seek(const ItemRecordPtr& record, qint64 at)
{
    if (record == mPreviewRecord && mAudioPreviewObject) {
        mAudioPreviewObject->setCurrentTime(at);
        mControls.playbackSlider->setValue(static_cast<int>(at));
        return;
    }
    mPendingPlay = PendingPlay{record, at, false};
    const int row = mBook.rowOf(record);
    if (row >= 0)
        mControls.mainTable->selectRowIndexes({row}, false);
}

std::optional<std::pair<ItemRecordPtr, double>> AudioPreview::place() const
{
    if (!mPreviewRecord || !mAudioPreviewObject || mBook.rowOf(mPreviewRecord) < 0)
        return std::nullopt;
    return std::pair{mPreviewRecord,
                     std::round(static_cast<double>(mAudioPreviewObject->currentTime())) / 1000.0};
}
