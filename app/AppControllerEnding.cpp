// How a run ends when the application does: its tools end, and what they wrote goes.
#include "AppController.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>

bool AppController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainWindow && event->type() == QEvent::Close)
        applicationWillTerminate();
    return QObject::eventFilter(watched, event);
}

void AppController::applicationWillTerminate()
{
    if (state() == RunState::Idle)
        return;
    mEndedMidRun = true;
    stopJoin(this);
}

void AppController::quitApplication()
{
    applicationWillTerminate();
    mainWindow->close();
    QCoreApplication::quit();
}
