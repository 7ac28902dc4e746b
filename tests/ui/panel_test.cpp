// The window and its panel: placement, layout, the start state, the panel operations, the About pane, the
// ports, message boxes.
#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>
#include <set>

#include "fake_system.h"
#include "ui/dialog_units.h"
#include "ui/panel_layout.h"
#include "window_fixture.h"

namespace {

constexpr int kValueFields[] = {IDC_MODULE,      IDC_FORMAT, IDC_VERSION, IDC_DUMPSIZE,
                                IDC_CRC,         IDC_PHONE,  IDC_IMEI,    IDC_FRAMESSENT,
                                IDC_FRAMESTOTAL, IDC_TIME,   IDC_LOADER,  IDC_LINKSTATE};
constexpr int kAboutIds[] = {IDC_ABOUTTITLE, IDC_CREDITS, IDC_BUILDSTAMP};
constexpr int kDataRows[] = {IDC_MODULE_LABEL, IDC_MODULE, IDC_FORMAT};  // what the About pane covers

QProgressBar* bar(WindowFixture& f) {
    return qobject_cast<QProgressBar*>(f.panel().control(IDC_PROGRESS));
}

}  // namespace

TEST(Window, PlacementUnitsLayoutAndFrame) {
    EXPECT_EQ(centredWindowOrigin(1024, 768), (PixelPoint{339, 273}));
    EXPECT_EQ(centredWindowOrigin(800, 600), (PixelPoint{227, 189}));
    EXPECT_EQ(centredWindowOrigin(1023, 767), (PixelPoint{338, 272}));  // halves round down
    for (const auto& [units, x, y] :
         {std::tuple{0, 0, 0}, {3, 5, 5}, {4, 6, 7}, {111, 167, 180}, {121, 182, 197}, {229, 344, 372}})
        EXPECT_EQ(std::pair(dialogUnitsToPixelsX(units), dialogUnitsToPixelsY(units)), std::pair(x, y))
            << units;
    std::set<int> ids;
    for (const ControlEntry& entry : panelLayout()) ids.insert(entry.id);
    EXPECT_EQ(std::pair(ids.size(), panelLayout().size()),
              std::pair(std::size_t{37}, std::size_t{37}));  // all distinct

    WindowFixture f;
    EXPECT_EQ(f.panel().control(IDC_UPDATE)->geometry(), QRect(267, 146, 68, 23));  // each edge rounded alone
    EXPECT_EQ(f.panel().control(IDC_LOADER)->geometry(), QRect(213, 180, 107, 17));  // clear of the lights
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Phone Flash Updater"));
    EXPECT_EQ(f.panel().geometry(), QRect(0, 0, 341, 197));
    EXPECT_EQ(f.window.minimumSize(), QSize(341, 197));
    EXPECT_EQ(f.window.maximumSize(), QSize(341, 197));
    EXPECT_EQ(f.window.windowFlags() &
                  (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint),
              Qt::WindowCloseButtonHint);
    f.window.centreOnScreen(1024, 768);
    EXPECT_EQ(f.window.pos(), QPoint(339, 273));
}

TEST(Panel, StartsReadyWithEmptyFieldsAndTheAboutPaneFilledButHidden) {
    WindowFixture f;
    for (int id : kValueFields) EXPECT_EQ(f.text(id), id == IDC_LINKSTATE ? "CLOSED" : "") << id;
    EXPECT_EQ(f.text(IDC_STATUS) + f.text(IDC_UPDATE) + f.text(IDC_ABOUT) + f.text(IDC_LOADSW),
              "ReadyUpdateAboutLoad SW");
    EXPECT_EQ(f.panel().selectedPortDigit(), '1');
    EXPECT_FALSE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.enabled(IDC_LOADSW));
    for (int id : kAboutIds) EXPECT_FALSE(f.visible(id)) << id;
    EXPECT_EQ(f.text(IDC_ABOUTTITLE), "ABOUT BUILD FROM");
    EXPECT_EQ(bar(f)->value(), 0);
    EXPECT_EQ(f.text(IDC_BUILDSTAMP).size(), 20u) << f.text(IDC_BUILDSTAMP);  // "Mmm dd yyyy hh:mm:ss"
    EXPECT_EQ(f.text(IDC_CREDITS), QString::fromStdString(f.text(IDC_CREDITS)).toUpper().toStdString());
    EXPECT_NE(f.text(IDC_CREDITS).find('\n'), std::string::npos);  // a few upper-case lines
    // The value font: fixed pitch, cells of at most 8 pixels, on exactly the layout's value controls.
    const QFontMetrics metrics(f.panel().valueFont());
    EXPECT_TRUE(QFontInfo(f.panel().valueFont()).fixedPitch());
    EXPECT_LE(metrics.horizontalAdvance(QLatin1Char('0')), 8);
    for (const ControlEntry& entry : panelLayout())
        EXPECT_EQ(f.panel().control(entry.id)->font() == f.panel().valueFont(),
                  (entry.style & kValueFont) != 0)
            << entry.id;
    EXPECT_EQ(f.panel().control(IDC_STATUS)->font().pointSize(), 8);
    // Each value field tells assistive technology what it shows.
    std::set<QString> descriptions;
    for (int id : kValueFields)
        descriptions.insert(
            QAccessible::queryAccessibleInterface(f.panel().control(id))->text(QAccessible::Description));
    EXPECT_EQ(descriptions.size(), std::size(kValueFields));
    EXPECT_FALSE(descriptions.count(QString()));
}

TEST(Panel, OperationsClearProgressAndPlainTexts) {
    WindowFixture f;
    for (int id : kValueFields) f.panel().setFieldText(id, "x");
    f.panel().setStatus("busy");
    f.panel().setControlEnabled(IDC_UPDATE, true);
    f.panel().clearImageFields();  // keeps the frames total and the time
    for (int id : kValueFields)
        EXPECT_EQ(f.text(id), id == IDC_LINKSTATE                       ? "CLOSED"
                              : id == IDC_FRAMESTOTAL || id == IDC_TIME ? "x"
                                                                        : "")
            << id;
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_FALSE(f.enabled(IDC_UPDATE));

    f.panel().progressStart(57);
    for (int i = 0; i < 57; ++i) f.panel().progressStep();
    EXPECT_EQ(std::pair(bar(f)->value(), bar(f)->maximum()), std::pair(57, 57));
    f.panel().progressStep();  // step 58 starts the bar over
    EXPECT_EQ(bar(f)->value(), 0);
    f.panel().progressStep();
    f.panel().progressReset();
    EXPECT_EQ(std::pair(bar(f)->value(), bar(f)->maximum()), std::pair(0, 57));  // the range stays
    f.panel().progressStart(70000);                                              // the whole count
    EXPECT_EQ(bar(f)->maximum(), 70000);
    f.panel().progressStart(0);  // an empty bar, not a busy one
    f.panel().progressStep();
    EXPECT_GT(bar(f)->maximum(), bar(f)->minimum());
    EXPECT_EQ(bar(f)->value(), 0);

    f.panel().setFieldText(IDC_VERSION, " <b>CXC</b> \xC3\x84");
    EXPECT_EQ(f.panel().text(IDC_VERSION), QStringLiteral(" <b>CXC</b> \u00C4"));
    EXPECT_EQ(qobject_cast<QLabel*>(f.panel().control(IDC_VERSION))->textFormat(), Qt::PlainText);
    f.panel().setControlVisible(IDC_PHONE, false);
    EXPECT_FALSE(f.visible(IDC_PHONE));
}

TEST(Panel, AboutTogglesThePaneAndItsCaptionKeepingTexts) {
    WindowFixture f;
    f.panel().setControlEnabled(IDC_LOADSW, false);  // works while Update and Load SW are disabled
    f.click(IDC_ABOUT);
    EXPECT_TRUE(f.panel().aboutShown());
    EXPECT_EQ(f.text(IDC_ABOUT), "Data Info");
    for (int id : kAboutIds) EXPECT_TRUE(f.visible(id)) << id;
    for (int id : kDataRows) EXPECT_FALSE(f.visible(id)) << id;
    EXPECT_TRUE(f.visible(IDC_VERSION) && f.visible(IDC_CRC));  // only those go
    f.panel().setFieldText(IDC_FORMAT, "SHEX");                 // hidden, still written
    f.click(IDC_ABOUT);
    EXPECT_FALSE(f.panel().aboutShown());
    EXPECT_EQ(f.text(IDC_ABOUT), "About");
    for (int id : kAboutIds) EXPECT_FALSE(f.visible(id)) << id;
    EXPECT_EQ(f.text(IDC_FORMAT), "SHEX");
    EXPECT_TRUE(f.visible(IDC_FORMAT));
}

TEST(Panel, PortsSelectTheirDigitAndNameTheirDevice) {
    WindowFixture f;
    for (const auto& [id, digit] : {std::pair{IDC_COM3, '3'}, {IDC_COM4, '4'}, {IDC_COM2, '2'}}) {
        f.click(id);
        EXPECT_EQ(f.panel().selectedPortDigit(), digit);
    }
    auto* com2 = qobject_cast<QRadioButton*>(f.panel().control(IDC_COM2));
    com2->group()->setExclusive(false);
    com2->setChecked(false);
    EXPECT_EQ(f.panel().selectedPortDigit(), '4');     // none of COM 1..3 checked, nor COM 4
    EXPECT_FALSE(f.window.session().link().isOpen());  // choosing a port opens nothing

    FakeSystem sys;  // a USB adapter that vim and brltty hold
    sys.usb("pci0000:00/usb1/1-1", {"067b", "2303", "Prolific", "USB serial cable"});
    sys.tty("ttyUSB0", "pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial/pl2303");
    const std::string missing = "/nonexistent-dir/ttyNONE", device = sys.roots().dev + "/ttyUSB0";
    for (const char* pid : {"70", "77"}) sys.link("proc/" + std::string(pid) + "/fd/3", device);
    sys.file("proc/70/comm", "vim\n");
    sys.file("proc/77/comm", "brltty\n");
    f.panel().setPortRoots(sys.roots());
    f.window.setPortResolver([&](char d) { return d == '1' ? device : d == '3' ? "/tmp" : missing; });
    QWidget* com1 = f.panel().control(IDC_COM1);
    EXPECT_EQ(com1->toolTip().toStdString(),
              "COM1: " + device +
                  ", USB serial cable 067b:2303 (Prolific), held by vim (pid 70), brltty (pid 77)\n"
                  "brltty takes some USB serial adapters for braille displays. If you use none,\n"
                  "remove it (sudo apt remove brltty) and plug the cable in again");
    EXPECT_EQ(f.panel().control(IDC_COM2)->toolTip(),
              QStringLiteral("COM2: /nonexistent-dir/ttyNONE, missing"));
    EXPECT_EQ(f.panel().control(IDC_COM3)->toolTip(), QStringLiteral("COM3: /tmp, not usable"));
    std::filesystem::remove(device);  // unplugged: read afresh when the tooltip is about to show
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), com1->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(com1, &hover);
    EXPECT_EQ(com1->toolTip().toStdString(),
              "COM1: " + device + ", USB serial cable 067b:2303 (Prolific), missing");
    EXPECT_FALSE(f.window.session().link().open('2', 9600));  // the link follows the same mapping
    EXPECT_EQ(f.window.session().link().lastOpenPath(), missing);
}

TEST(Panel, MessageBoxIsModalOwnedByThePanelWithItsCaptionIconAndOneButton) {
    WindowFixture f;
    f.panel().setMessageBoxFunction({});  // the real box
    QString shown;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = QStringLiteral("%1|%2|%3|%4|%5")
                    .arg(box->windowTitle(), box->text())
                    .arg(box->icon())
                    .arg(box->standardButtons())
                    .arg(box->parentWidget() == &f.panel());
        box->button(QMessageBox::Ok)->click();
    });
    f.panel().showMessage("Wrong responce", "Error", MessageIcon::Error);
    EXPECT_EQ(shown,
              QStringLiteral("Error|Wrong responce|%1|%2|1").arg(QMessageBox::Critical).arg(QMessageBox::Ok));
    QMessageBox box;
    configureMessageBox(box, "Software updated completed", "", "Success", MessageIcon::None);
    EXPECT_EQ(std::pair(box.icon(), box.windowModality()),
              std::pair(QMessageBox::NoIcon, Qt::ApplicationModal));
}
