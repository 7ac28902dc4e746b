// Not a test: renders the window in its main states to PNG files (docs/screenshot.png comes from it).
// Usage: ui_screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

#include "tests/support/sample_image.h"
#include "tools/phone-sim/phone_sim.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(QStringLiteral("."));
    bool ok = true;
    const auto save = [&](QWidget& widget, const char* name) {
        QApplication::processEvents();
        const QString path = dir.filePath(QString::fromLatin1(name));
        ok = widget.grab().save(path) && ok;
        std::printf("wrote %s\n", path.toLocal8Bit().constData());
    };

    MainWindow window;
    ControlPanel& panel = window.panel();
    const sample::TempDir files;
    const std::string image = files.write("t18_r3a.sbin", sample::image(2400, "CXC125112 R3A"));
    window.setOpenFileFunction([&] { return std::optional<std::string>(image); });
    window.show();
    QMetaObject::invokeMethod(panel.control(IDC_LOADSW), "click");
    save(window, "idle-loaded.png");
    panel.toggleAbout();
    save(window, "about.png");
    panel.toggleAbout();

    // A real session against the simulated phone at the real line rate, caught half-way through the frames.
    PhoneSimOptions phone;
    std::string error;
    const auto fail = [&] {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    };
    if (!setExpectedImage(phone, *window.heldImage().image, error)) return fail();
    PhoneSim sim(phone);
    if (!sim.start(error)) return fail();
    window.setPortResolver([port = sim.slavePath()](char) { return port; });
    QMetaObject::invokeMethod(panel.control(IDC_UPDATE), "click");
    QElapsedTimer waited;
    for (waited.start(); panel.text(IDC_FRAMESSENT).toInt() < 1200 && waited.elapsed() < 60000;
         QThread::msleep(5))
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    save(window, "mid-session.png");

    QMessageBox box(&panel);
    configureMessageBox(
        box,
        "Data transmit error encountered.\nCheck if the battery is full enough (at least 50% is "
        "recomended)\n or if the cable is properly connected",
        "Error", MessageIcon::Error);
    box.show();
    save(box, "message-box.png");
    window.session().shutdown();
    return ok ? 0 : 1;
}
