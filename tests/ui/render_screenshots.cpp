// Renders the window in its main states to PNG files, for looking at and for the README's screenshot.
// Usage: ui_screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QProgressBar>

#include <cstdio>

#include "image_files.h"
#include "serial/activity_flags.h"
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
    panel.stopTimers();
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

    // What a session shows while streaming frames, with both lights lit.
    panel.setFieldText(IDC_UPDATE, "Abort");
    for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4}) panel.setControlEnabled(id, false);
    panel.setFieldText(IDC_PHONE, " T1x detected");
    panel.setFieldText(IDC_IMEI, " 350123-45-678901-2");
    panel.setFieldText(IDC_LINKSTATE, "115200");
    panel.setFieldText(IDC_LOADER, "SAPP CXC1320633");
    panel.setFieldText(IDC_TIME, "01:23");
    panel.setFieldText(IDC_FRAMESSENT, "1234");
    panel.setStatus("Updating software ...");
    panel.progressStart(2400);
    for (int i = 0; i < 1234; ++i) panel.progressStep();
    activityFlags.rxSeen = true;
    activityFlags.txSeen = true;
    panel.lightsTick();
    QApplication::processEvents();
    ok = save(window, dir, "mid-session.png") && ok;
    return ok ? 0 : 1;
}
