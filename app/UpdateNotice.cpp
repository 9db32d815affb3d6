// The update notice: whether a newer version is out, told in a sheet, and
// the release notes and help page.
#include "UpdateNotice.h"

#include "Hyperlink.h"
#include "LeadingNumber.h"
#include "Resources.h"
#include "SheetDialog.h"
#include "ui_UpdateWindow.h"

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

UpdateNotice::UpdateNotice(QMainWindow* window, QString feedUrl,
                           std::function<bool(const QUrl&)> openUrl, QObject* parent)
    : QObject(parent), mWindow(window), mFeedUrl(std::move(feedUrl)), mOpenUrl(std::move(openUrl)),
      mUi(std::make_unique<Ui::UpdateWindow>()), mSheet(new SheetDialog(window))
{
    mUi->setupUi(mSheet);
    mMessage = mUi->updateMessage;
    if (const auto icon = Resources::pathForResource(u"fablewick"_s, u"png"_s))
        mUi->updateIcon->setPixmap(QPixmap(*icon));
    connect(mUi->updateOk, &QPushButton::clicked, this, [this] { closeUpdateWindow(mUi->updateOk); });
    connect(mSheet, &QDialog::rejected, this, [this] { closeUpdateWindow(mSheet); });
}

UpdateNotice::~UpdateNotice()
{
    mChecker.reset();
}

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

void UpdateNotice::startChecking()
{
    mChecker = std::make_unique<UpdateChecker>(mFeedUrl);
    mChecker->setDelegate(this);
    mChecker->setAutoUpdate(true);
    mChecker->startChecking();
}

void UpdateNotice::checkForUpdate(QObject*)
{
    if (!mChecker) {
        mChecker = std::make_unique<UpdateChecker>(mFeedUrl);
        mChecker->setDelegate(this);
    }
    mChecker->setAutoUpdate(false);
    mChecker->startChecking();
}

void UpdateNotice::autoUpdateDidFinish(UpdateChecker* checker,
                                        const std::optional<UpdateError>& updateException)
{
    if (updateException) {
        if (checker->autoUpdate())
            return;
        mMessage->setText(
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
    mMessage->setTextInteractionFlags(Qt::TextBrowserInteraction);
    mMessage->setText(text.toHtmlEscaped() + link);
    showUpdateWindowWhenFree();
}

void UpdateNotice::showUpdateWindowWhenFree()
{
    if (!anotherSheetIsUp()) {
        mSheet->open();
        return;
    }
    if (!mWaiter) {
        mWaiter = new QTimer(this);
        mWaiter->setInterval(250);
        connect(mWaiter, &QTimer::timeout, this, [this] {
            if (anotherSheetIsUp())
                return;
            mWaiter->stop();
            mSheet->open();
        });
    }
    mWaiter->start();
}

bool UpdateNotice::anotherSheetIsUp() const
{
    for (const QWidget* child : mWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != mSheet && child->isWindow() && child->isVisible() && child->isModal())
            return true;
    }
    return false;
}

void UpdateNotice::closeUpdateWindow(QObject*)
{
    if (mSheet->isVisible())
        mSheet->done(1);
}

void UpdateNotice::showReleaseNote(QObject*)
{
    if (const auto notes = Resources::pathForResource(u"release"_s, u"txt"_s))
        mOpenUrl(QUrl::fromLocalFile(*notes));
}

void UpdateNotice::launchBrowser(QObject*)
{
    mOpenUrl(
        QUrl(u"http://"_s + QStringLiteral(FABLEWICK_WEBSITE_HOST) + u"/fablewick-help"_s));
}

QDialog* UpdateNotice::updateSheet() const
{
    return mSheet;
}
