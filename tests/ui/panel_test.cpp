// The window and its panel: placement, layout, the start state, the panel operations, the About pane, the
// ports, what assistive technology sees, message boxes, and the program's start-up.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>
#include <set>

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
    const std::pair<int, int> xs[] = {{0, 0}, {3, 5}, {229, 344}}, ys[] = {{111, 180}, {4, 7}, {121, 197}};
    for (const auto& [units, pixels] : xs) EXPECT_EQ(dialogUnitsToPixelsX(units), pixels) << units;
    for (const auto& [units, pixels] : ys) EXPECT_EQ(dialogUnitsToPixelsY(units), pixels) << units;
    std::set<int> ids;
    for (const ControlSpec& entry : panelLayout()) ids.insert(entry.id);
    EXPECT_EQ(ids.size(), 37u);
    EXPECT_EQ(panelLayout().size(), 37u);

    WindowFixture f;
    const std::pair<int, QRect> rects[] = {{IDC_STATUS, {5, 180, 151, 17}},
                                           {IDC_UPDATE, {267, 146, 68, 23}},
                                           {IDC_PROGRESS, {14, 127, 237, 11}},
                                           {IDC_LOADER, {213, 180, 107, 17}},
                                           {IDC_RULE, {0, 176, 342, 1}}};
    for (const auto& [id, rect] : rects) EXPECT_EQ(f.panel().control(id)->geometry(), rect) << id;
    EXPECT_LT(f.panel().control(IDC_LOADER)->geometry().right(), kReceiveLightX);
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Phone Flash Updater"));
    EXPECT_EQ(f.window.size(), QSize(341, 197));
    EXPECT_EQ(f.window.minimumSize(), f.window.maximumSize());
    EXPECT_EQ(f.panel().geometry(), QRect(0, 0, 341, 197));
    EXPECT_EQ(f.window.windowFlags() &
                  (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint),
              Qt::WindowCloseButtonHint);
    f.window.centreOnScreen(1024, 768);
    EXPECT_EQ(f.window.pos(), QPoint(339, 273));
}

TEST(Panel, StartsReadyWithEmptyFieldsAndTheAboutPaneFilledButHidden) {
    WindowFixture f;
    for (int id : kValueFields) EXPECT_EQ(f.text(id), id == IDC_LINKSTATE ? "CLOSED" : "") << id;
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(f.panel().selectedPortDigit(), '1');
    EXPECT_FALSE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.enabled(IDC_LOADSW));
    EXPECT_EQ(f.text(IDC_UPDATE) + f.text(IDC_ABOUT) + f.text(IDC_LOADSW), "UpdateAboutLoad SW");
    for (int id : kAboutIds) EXPECT_FALSE(f.visible(id)) << id;
    for (int id : kDataRows) EXPECT_TRUE(f.visible(id)) << id;
    EXPECT_EQ(f.text(IDC_ABOUTTITLE), "ABOUT BUILD FROM");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} [ 0-9]\\d \\d{4} \\d{2}:\\d{2}:\\d{2}$"))
                    .match(f.panel().text(IDC_BUILDSTAMP))
                    .hasMatch())
        << f.text(IDC_BUILDSTAMP);
    const QString credits = f.panel().text(IDC_CREDITS);
    EXPECT_TRUE(credits == credits.toUpper() && credits.count(QLatin1Char('\n')) >= 1)
        << credits.toStdString();
    EXPECT_EQ(bar(f)->value(), 0);
    EXPECT_FALSE(bar(f)->isTextVisible());

    // The value font: fixed pitch with cells of about 8 pixels, on exactly the layout's value controls; the
    // panel's own font an 8-point proportional face.
    const QFontMetrics metrics(f.panel().valueFont());
    EXPECT_TRUE(QFontInfo(f.panel().valueFont()).fixedPitch());
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiii")),
              metrics.horizontalAdvance(QStringLiteral("WWWW")));
    EXPECT_LE(metrics.horizontalAdvance(QLatin1Char('0')), 8);
    for (const ControlSpec& entry : panelLayout())
        EXPECT_EQ(f.panel().control(entry.id)->font() == f.panel().valueFont(),
                  (entry.style & kValueFont) != 0)
            << entry.id;
    EXPECT_EQ(f.panel().control(IDC_STATUS)->font().pointSize(), 8);
    EXPECT_FALSE(QFontInfo(f.panel().control(IDC_STATUS)->font()).fixedPitch());
    EXPECT_LE(metrics.horizontalAdvance(QStringLiteral(" CXC132611 R2A 20000426TST")),
              f.panel().control(IDC_VERSION)->width() - 2);  // the longest version fits inside its edge
    EXPECT_EQ(qobject_cast<QLabel*>(f.panel().control(IDC_CRC))->alignment(),
              Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(qobject_cast<QLabel*>(f.panel().control(IDC_MODULE))->frameShadow(), QFrame::Sunken);
}

TEST(Panel, OperationsClearProgressAndPlainTexts) {
    WindowFixture f;
    for (int id : kValueFields) f.panel().setFieldText(id, "x");
    f.panel().setStatus("busy");
    f.panel().setControlEnabled(IDC_UPDATE, true);
    f.panel().clearImageFields();
    for (int id : kValueFields)
        EXPECT_EQ(f.text(id), id == IDC_LINKSTATE                       ? "CLOSED"
                              : id == IDC_FRAMESTOTAL || id == IDC_TIME ? "x"
                                                                        : "")
            << id;
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_FALSE(f.enabled(IDC_UPDATE));

    f.panel().progressStart(57);
    for (int i = 0; i < 57; ++i) f.panel().progressStep();
    EXPECT_EQ(bar(f)->value(), 57);
    EXPECT_EQ(bar(f)->maximum(), 57);
    f.panel().progressStep();  // step 58 starts the bar over
    EXPECT_EQ(bar(f)->value(), 0);
    f.panel().progressStep();
    f.panel().progressReset();
    EXPECT_EQ(bar(f)->value(), 0);
    EXPECT_EQ(bar(f)->maximum(), 57);
    f.panel().progressStart(70000);  // the whole count
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
    f.panel().setFieldText(IDC_FORMAT, "SBIN");
    f.click(IDC_ABOUT);
    EXPECT_TRUE(f.panel().aboutShown());
    EXPECT_EQ(f.text(IDC_ABOUT), "Data Info");
    for (int id : kAboutIds) EXPECT_TRUE(f.visible(id)) << id;
    for (int id : kDataRows) EXPECT_FALSE(f.visible(id)) << id;
    for (int id : {IDC_VERSION, IDC_DUMPSIZE, IDC_CRC}) EXPECT_TRUE(f.visible(id)) << id;  // only those go
    f.panel().setFieldText(IDC_FORMAT, "SHEX");  // hidden, still written
    f.click(IDC_ABOUT);
    EXPECT_FALSE(f.panel().aboutShown());
    EXPECT_EQ(f.text(IDC_ABOUT), "About");
    for (int id : kAboutIds) EXPECT_FALSE(f.visible(id)) << id;
    EXPECT_EQ(f.text(IDC_FORMAT), "SHEX");
    EXPECT_TRUE(f.visible(IDC_FORMAT));
}

TEST(Panel, PortsSelectTheirDigitAndNameTheirDevice) {
    WindowFixture f;
    const std::pair<int, char> clicks[] = {{IDC_COM3, '3'}, {IDC_COM4, '4'}, {IDC_COM2, '2'}};
    for (const auto& [id, digit] : clicks) {
        f.click(id);
        EXPECT_EQ(f.panel().selectedPortDigit(), digit);
    }
    EXPECT_FALSE(qobject_cast<QRadioButton*>(f.panel().control(IDC_COM4))->isChecked());
    // None of COM 1..3 checked gives '4' even with COM 4 unchecked too.
    auto* com2 = qobject_cast<QRadioButton*>(f.panel().control(IDC_COM2));
    com2->group()->setExclusive(false);
    com2->setChecked(false);
    EXPECT_EQ(f.panel().selectedPortDigit(), '4');
    EXPECT_FALSE(f.window.session().link().isOpen());  // choosing a port opens nothing

    f.panel().control(IDC_COM3)->setFocus();  // the keyboard and assistive technology count like a click
    QTest::keyClick(f.panel().control(IDC_COM3), Qt::Key_Space);
    EXPECT_EQ(f.panel().selectedPortDigit(), '3');
    QAccessible::queryAccessibleInterface(f.panel().control(IDC_COM1))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(f.panel().selectedPortDigit(), '1');

    const std::string missing = "/nonexistent-dir/ttyNONE";
    f.window.setPortResolver([&](char d) { return d == '1' ? "/dev/null" : d == '3' ? "/tmp" : missing; });
    EXPECT_EQ(f.panel().control(IDC_COM1)->toolTip(), QStringLiteral("/dev/null: ready"));
    EXPECT_EQ(f.panel().control(IDC_COM2)->toolTip(), QStringLiteral("/nonexistent-dir/ttyNONE: missing"));
    EXPECT_EQ(f.panel().control(IDC_COM3)->toolTip(), QStringLiteral("/tmp: not usable"));
    EXPECT_FALSE(f.window.session().link().open('2', 9600));  // the link follows the same mapping
    EXPECT_EQ(f.window.session().link().lastOpenPath(), missing);
}

TEST(Panel, AssistiveTechnologyFindsFieldsAndButtons) {
    WindowFixture f;
    std::set<QString> descriptions;
    for (const ControlSpec& entry : panelLayout()) {
        if (!(entry.style & kValueFont) || entry.id == IDC_ABOUTTITLE) continue;
        descriptions.insert(QAccessible::queryAccessibleInterface(f.panel().control(entry.id))
                                ->text(QAccessible::Description));
    }
    EXPECT_EQ(descriptions.size(), 14u);  // each value field says what it shows
    EXPECT_FALSE(descriptions.count(QString()));
    f.panel().setFieldText(IDC_IMEI, " 123456-78-901234-5");
    QAccessibleInterface* imei = QAccessible::queryAccessibleInterface(f.panel().control(IDC_IMEI));
    EXPECT_EQ(imei->text(QAccessible::Name), QStringLiteral(" 123456-78-901234-5"));
    EXPECT_EQ(imei->text(QAccessible::Description), QStringLiteral("IMEI"));
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(&f.panel());
    QStringList names;
    for (int i = 0; i < panel->childCount(); ++i)
        if (panel->child(i)->role() == QAccessible::PushButton ||
            panel->child(i)->role() == QAccessible::RadioButton)
            names << panel->child(i)->text(QAccessible::Name);
    for (const char* caption : {"About", "Load SW", "Update", "COM 1", "COM 2", "COM 3", "COM 4"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(caption))) << caption;
}

TEST(Panel, MessageBoxIsModalWithItsCaptionTextIconAndOneButton) {
    QMessageBox box;
    configureMessageBox(box, "Data transmit error encountered.\n or", "Error", MessageIcon::Error);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Error"));
    EXPECT_EQ(box.text(), QStringLiteral("Data transmit error encountered.\n or"));
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box.windowModality(), Qt::ApplicationModal);
    configureMessageBox(box, "Software updated completed", "Success", MessageIcon::None);
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);

    WindowFixture f;
    f.panel().setMessageBoxFunction({});  // the real box, owned by the panel, returns when closed
    bool sawBox = false;
    QTimer::singleShot(50, [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        sawBox =
            shown && shown->parentWidget() == &f.panel() && shown->windowTitle() == QStringLiteral("Hint");
        if (shown) shown->button(QMessageBox::Ok)->click();
    });
    f.panel().showMessage("You will have to remove the battery", "Hint", MessageIcon::Error);
    EXPECT_TRUE(sawBox);
}

TEST(Program, WithoutADisplayExits1SilentlyAndWithOneKeepsRunning) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PHONE_UPDATER_PATH), {});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_TRUE(program.readAll().isEmpty());

    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PHONE_UPDATER_REPORT_FIRST_PAINT"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(PHONE_UPDATER_PATH), {});
    QByteArray errors;
    while (!errors.contains("first-paint-ns ") && program.waitForReadyRead(10000))
        errors += program.readAll();
    EXPECT_TRUE(errors.contains("first-paint-ns ")) << errors.toStdString();
    EXPECT_FALSE(program.waitForFinished(500));  // its message loop keeps running
    program.terminate();
    EXPECT_TRUE(program.waitForFinished(5000));
}
