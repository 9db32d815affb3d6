// The update notice: whether a newer version is out, told in a sheet, and
// the release notes and help page.
#include "AppController.h"
#include "Hyperlink.h"
#include "LeadingNumber.h"
#include "Resources.h"
#include "SheetDialog.h"

#include <QLabel>
#include <QMainWindow>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

QString whyTheCheckFailed(const UpdateError& error)
{
    if (error.code == UpdateError::kNoConnection)
        return u"This computer does not seem to be connected to the internet."_s;
    if (error.code == UpdateError::kTimedOut)
        return u"The update server did not answer within 20 seconds."_s;
    if (error.domain == u"NSXMLParserErrorDomain"_s)
        return u"The update information from the server could not be read."_s;
    return u"The update server could not be reached (%1)."_s.arg(error.description);
}

} // namespace

void AppController::checkForUpdate(QObject*)
{
    theUpdater->setAutoUpdate(false);
    theUpdater->startChecking();
}

void AppController::autoUpdateDidFinish(UpdateChecker* checker,
                                        const std::optional<UpdateError>& updateException)
{
    if (updateException) {
        if (checker->autoUpdate())
            return;
        updateMessage->setText(
            u"<p><b>Fablewick could not check for updates.</b></p><p>%1</p>"_s.arg(
                whyTheCheckFailed(*updateException).toHtmlEscaped()));
        showUpdateWindowWhenFree();
        return;
    }
    const QString installed = QStringLiteral(FABLEWICK_VERSION);
    if (installed.isEmpty())
        return;
    const QString build = checker->updateInfo().value(u"build"_s);
    QString text;
    if (leadingFloatValue(build) > leadingFloatValue(installed)) {
        text = u"A new version of Fablewick has been released. Version %1 is available at "_s.arg(
            build);
    } else {
        if (checker->autoUpdate())
            return;
        // A feed without a build still says that nothing newer is known.
        text = u"You have the latest version (%1) of Fablewick installed. For more information "
               u"visit "_s.arg(build.isEmpty() ? installed : build);
    }
    const QUrl url(checker->updateInfo().value(u"url"_s));
    const QString link =
        Hyperlink::hyperlinkFromString(QStringLiteral(FABLEWICK_WEBSITE_HOST), url);
    updateMessage->setTextInteractionFlags(Qt::TextBrowserInteraction);
    updateMessage->setText(text.toHtmlEscaped() + link);
    showUpdateWindowWhenFree();
}

// The notice never covers another sheet, a run's progress least of all: it
// waits until the main window is free.
void AppController::showUpdateWindowWhenFree()
{
    if (!anotherSheetIsUp()) {
        beginSheet(updateWindow);
        return;
    }
    if (!mUpdateWaiter) {
        mUpdateWaiter = new QTimer(this);
        mUpdateWaiter->setInterval(250);
        connect(mUpdateWaiter, &QTimer::timeout, this, [this] {
            if (anotherSheetIsUp())
                return;
            mUpdateWaiter->stop();
            beginSheet(updateWindow);
        });
    }
    mUpdateWaiter->start();
}

bool AppController::anotherSheetIsUp() const
{
    for (const QWidget* child : mainWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != updateWindow && child->isWindow() && child->isVisible() && child->isModal())
            return true;
    }
    return false;
}

void AppController::closeUpdateWindow(QObject*)
{
    endSheet(updateWindow);
}

void AppController::showReleaseNote(QObject*)
{
    if (const auto notes = Resources::pathForResource(u"release"_s, u"txt"_s))
        mServices.openUrl(QUrl::fromLocalFile(*notes));
}

void AppController::launchBrowser(QObject*)
{
    mServices.openUrl(
        QUrl(u"http://"_s + QStringLiteral(FABLEWICK_WEBSITE_HOST) + u"/fablewick-help"_s));
}

QDialog* AppController::updateSheet() const
{
    return updateWindow;
}
