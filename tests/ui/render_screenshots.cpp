// Renders the window in its main states to PNG files, for looking at and for the README's screenshot.
// Usage: ui_screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>
#include <cstdio>

#include "image_files.h"
#include "tools/phone-sim/phone_sim.h"
#include "ui/main_window.h"

namespace {

bool save(MainWindow& window, const QDir& dir, const char* name) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toLocal8Bit().constData());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_screenshots OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(QStringLiteral("."));

    MainWindow window;
    ControlPanel& panel = window.panel();
    TempDir files;
    const std::string image = files.write("t18_r3a.sbin", sbinImage("CXC125112 R3A", 2400));
    window.setOpenFileFunction([&] { return std::optional<std::string>(image); });
    window.show();
    QApplication::processEvents();
    QMetaObject::invokeMethod(panel.control(IDC_LOADSW), "click");
    QApplication::processEvents();
    bool ok = save(window, dir, "idle-loaded.png");

    panel.toggleAbout();
    QApplication::processEvents();
    ok = save(window, dir, "about.png") && ok;
    panel.toggleAbout();

    // A real session against the simulated phone at the real line rate, caught half-way through the frames.
    PhoneSimOptions phone;
    phone.model = PhoneKind::T1x;
    std::string error;
    if (!setExpectedImage(phone, *window.heldImage().image, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    PhoneSim sim(phone);
    if (!sim.start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::string port = sim.slavePath();
    window.setPortResolver([port](char) { return port; });
    QMetaObject::invokeMethod(panel.control(IDC_UPDATE), "click");
    QElapsedTimer waited;
    waited.start();
    while (panel.text(IDC_FRAMESSENT).toInt() < 1200 && waited.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    ok = save(window, dir, "mid-session.png") && ok;

    QMessageBox box(&panel);
    configureMessageBox(
        box,
        "Data transmit error encountered.\nCheck if the battery is full enough (at least 50% is "
        "recomended)\n or if the cable is properly connected",
        "Error", MessageIcon::Error);
    box.show();
    QApplication::processEvents();
    const QString boxPath = dir.filePath(QStringLiteral("message-box.png"));
    ok = box.grab().save(boxPath) && ok;
    std::printf("wrote %s\n", boxPath.toLocal8Bit().constData());
    window.session().shutdown();
    return ok ? 0 : 1;
}
