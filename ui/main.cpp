// phone-updater: start-up, the message loop, and the exit code.
#include <QApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "resources/program_text.h"
#include "serial/standard_descriptors.h"
#include "ui/command_line.h"
#include "ui/main_window.h"

namespace {

Q_LOGGING_CATEGORY(startupLog, "phone-updater.startup", QtWarningMsg)

constexpr const char* kNoDisplay =
    "phone-updater: no display: set DISPLAY or WAYLAND_DISPLAY, or run phone-updater-cli\n";

// Whether a display is named at all; whether it can be reached, only starting the platform tells.
bool displayNamed() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// While the application starts, Qt's messages wait: when no display can be reached Qt warns twice, then
// ends the process with advice to reinstall and an abort. That fatal message becomes the one sentence above
// and exit code 1; after a good start the waiting messages go out as they would have.
struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};
std::vector<HeldMessage> heldMessages;
QtMessageHandler qtHandler = nullptr;

void holdStartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::_Exit(1);
    }
    heldMessages.push_back({type, context.category ? context.category : "", text});
}

void releaseStartUpMessages() {
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage& message : heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
        qtHandler(message.type, context, message.text);  // Qt's own when none was installed before
    }
    heldMessages.clear();
}

std::unique_ptr<MainWindow> createMainWindow() {
    try {
        return std::make_unique<MainWindow>();
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    guardStandardDescriptors();
    // Help and version need no display; Qt's options are still among the words here, and do no harm.
    const WindowCommandLine early = parseWindowCommandLine({argv + 1, argv + argc});
    if (early.help) {
        std::fputs(kHelpText, stdout);
        return 0;
    }
    if (early.version) {
        std::printf("phone-updater %s\n", kProgramVersion);
        return 0;
    }
    if (!displayNamed()) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    qtHandler = qInstallMessageHandler(holdStartUpMessage);
    QApplication app(argc, argv);
    releaseStartUpMessages();
    // The desktop entry's name, so that a desktop shows the window under the entry's icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.phone_flash_updater"));
    const WindowCommandLine command = parseWindowCommandLine({argv + 1, argv + argc});  // Qt's options gone
    if (!command.error.empty()) {
        const std::string_view usage = helpUsage();
        std::fprintf(stderr, "phone-updater: %s\n%.*s", command.error.c_str(), static_cast<int>(usage.size()),
                     usage.data());
        return 64;
    }

    std::unique_ptr<MainWindow> window = createMainWindow();
    if (!window) return 1;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        window->centreOnScreen(desktop.width(), desktop.height());
    }
    // Start-up timing through Qt's own logging rules (QT_LOGGING_RULES="phone-updater.startup.info=true"):
    // the wall-clock time of the first paint, to set against the launch time.
    if (startupLog().isInfoEnabled()) {
        QObject::connect(&window->panel(), &ControlPanel::firstPainted, [] {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            qCInfo(startupLog, "first-paint-ns %lld",
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        });
    }
    window->show();
    // An image named on the command line (a file opened from the desktop) loads once the window is up,
    // so that a failure's message box has the window under it.
    if (command.file) {
        QTimer::singleShot(0, window.get(), [&window, file = *command.file] { window->loadImageFile(file); });
    }
    app.exec();
    return 0;  // whatever code the loop ended with
}
