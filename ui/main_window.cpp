#include "ui/main_window.h"

#include <QCloseEvent>
#include <QMetaObject>

#include "ui/dialog_units.h"

MainWindow::MainWindow() : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("MainWindow"));
    // Caption and close box only: no sizing border, no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QString::fromLatin1(kProductTitle));
    setFixedSize(kClientWidth, kClientHeight);

    panel_ = new ControlPanel(this);
    panel_->move(0, 0);
    setWindowIcon(panel_->icon(kFirstIconId));

    // The worker's panel calls are queued to this thread; SessionControl makes the worker wait for each.
    ControlPanel* target = panel_;
    session_ = std::make_unique<SessionControl>(*panel_, [target](std::function<void()> call) {
        QMetaObject::invokeMethod(target, std::move(call), Qt::QueuedConnection);
    });
    panel_->setClockSource(&session_->state().clockRunning);
    panel_->setLightsSource(&session_->state().sessionRunning);
    // Read while the worker waits for its "Port is busy" box: the link holds that open's error and path.
    panel_->setPortFailureFunction([this] {
        const SerialLink& link = session_->link();
        return openFailureReason(describePort(link.lastOpenPath(), panel_->portRoots()),
                                 link.lastOpenError());
    });
    openFile_ = platformOpenFile(this);

    connect(panel_, &ControlPanel::updatePressed, this, &MainWindow::onUpdatePressed);
    connect(panel_, &ControlPanel::loadSoftwarePressed, this, &MainWindow::onLoadSoftwarePressed);
}

MainWindow::~MainWindow() {
    // Before the panel goes: stop a session silently and let go of the port.
    session_->shutdown();
}

void MainWindow::setPortResolver(const std::function<std::string(char)>& resolver) {
    session_->link().setPortResolver(resolver);
    panel_->setPortPathFunction(resolver);
}

void MainWindow::centreOnScreen(int screenWidth, int screenHeight) {
    const PixelPoint origin = centredWindowOrigin(screenWidth, screenHeight);
    move(origin.x, origin.y);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A session in progress is abandoned: no message, the worker stopped, the port released.
    session_->shutdown();
    event->accept();
}

void MainWindow::onUpdatePressed() {
    // The flag that the button's caption follows, not the worker's end: after its idle reset a worker may
    // still be on its way out with its last message, and the button already reads "Update".
    if (session_->state().sessionRunning) {
        session_->abortSession();
    } else if (held_.image) {
        session_->startSession(*held_.image);
        panel_->startLights();
    }
}

void MainWindow::loadImageFile(const std::string& path) {
    if (session_->state().sessionRunning) return;
    loadSoftware(*panel_, held_, [&path] { return std::optional<std::string>(path); });
}

void MainWindow::onLoadSoftwarePressed() {
    // Load SW is disabled while a session runs; a worker past its idle reset no longer reads the image.
    if (session_->state().sessionRunning) return;
    loadSoftware(*panel_, held_, openFile_);
}
