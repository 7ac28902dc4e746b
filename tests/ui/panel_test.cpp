// The panel as it starts, its operations, the About pane, the ports and what assistive technology sees.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest/QTest>

#include "ui/panel_layout.h"
#include "window_fixture.h"

namespace {

constexpr int kValueFields[] = {IDC_MODULE,      IDC_FORMAT, IDC_VERSION,   IDC_DUMPSIZE,
                                IDC_CRC,         IDC_PHONE,  IDC_IMEI,      IDC_FRAMESSENT,
                                IDC_FRAMESTOTAL, IDC_TIME,   IDC_LINKSTATE, IDC_LOADER};

QProgressBar* progressBar(ControlPanel& panel) {
    return qobject_cast<QProgressBar*>(panel.control(IDC_PROGRESS));
}

}  // namespace

TEST(PanelStart, EveryFieldInItsInitialState) {
    WindowFixture f;
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(f.text(IDC_LINKSTATE), "CLOSED");
    for (int id : kValueFields) {
        if (id != IDC_LINKSTATE) {
            EXPECT_EQ(f.text(id), "") << "control " << id;
        }
    }
    EXPECT_EQ(f.panel().selectedPortDigit(), '1');
    EXPECT_TRUE(qobject_cast<QRadioButton*>(f.panel().control(IDC_COM1))->isChecked());
    EXPECT_FALSE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.enabled(IDC_LOADSW));
    EXPECT_TRUE(f.enabled(IDC_ABOUT));
    EXPECT_EQ(f.text(IDC_UPDATE), "Update");
    EXPECT_EQ(f.text(IDC_ABOUT), "About");
    EXPECT_EQ(f.text(IDC_LOADSW), "Load SW");
    EXPECT_FALSE(f.panel().aboutShown());
    for (int id : {IDC_ABOUTTITLE, IDC_CREDITS, IDC_BUILDSTAMP})
        EXPECT_FALSE(f.panel().control(id)->isVisible());
    for (int id : {IDC_MODULE_LABEL, IDC_MODULE, IDC_FORMAT}) EXPECT_TRUE(f.panel().control(id)->isVisible());
    // The About pane is filled in before it is ever shown.
    EXPECT_EQ(f.text(IDC_ABOUTTITLE), "ABOUT BUILD FROM");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} [ 0-9]\\d \\d{4} \\d{2}:\\d{2}:\\d{2}$"))
                    .match(f.panel().text(IDC_BUILDSTAMP))
                    .hasMatch())
        << f.text(IDC_BUILDSTAMP);
    const QString credits = f.panel().text(IDC_CREDITS);
    EXPECT_FALSE(credits.isEmpty());
    EXPECT_EQ(credits, credits.toUpper());
    EXPECT_GE(credits.count(QLatin1Char('\n')), 1);
    EXPECT_EQ(progressBar(f.panel())->value(), 0);
    EXPECT_FALSE(progressBar(f.panel())->isTextVisible());
}

TEST(PanelStart, StylesAndFontsFollowTheLayout) {
    WindowFixture f;
    auto* module = qobject_cast<QLabel*>(f.panel().control(IDC_MODULE));
    EXPECT_EQ(module->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(module->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_EQ(qobject_cast<QLabel*>(f.panel().control(IDC_CRC))->alignment(),
              Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(qobject_cast<QLabel*>(f.panel().control(IDC_MODULE_LABEL))->frameShape(), QFrame::NoFrame);
    auto* credits = qobject_cast<QPlainTextEdit*>(f.panel().control(IDC_CREDITS));
    EXPECT_TRUE(credits->isReadOnly());
    EXPECT_EQ(credits->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // valueFont: fixed pitch, small cells, on exactly the fifteen value controls.
    const QFont value = f.panel().valueFont();
    EXPECT_TRUE(QFontInfo(value).fixedPitch()) << QFontInfo(value).family().toStdString();
    const QFontMetrics metrics(value);
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiii")),
              metrics.horizontalAdvance(QStringLiteral("WWWW")));
    EXPECT_GE(metrics.horizontalAdvance(QLatin1Char('0')), 6);
    EXPECT_LE(metrics.horizontalAdvance(QLatin1Char('0')), 8);
    // The longest texts the fields get fit inside their sunken edges.
    auto fits = [&](const char* text, int id) {
        return metrics.horizontalAdvance(QString::fromLatin1(text)) <= f.panel().control(id)->width() - 2;
    };
    EXPECT_TRUE(fits(" 1999999 bytes", IDC_DUMPSIZE));
    EXPECT_TRUE(fits("SAPP CXC1320633", IDC_LOADER));
    EXPECT_TRUE(fits(" 350123-45-678901-2", IDC_IMEI));
    EXPECT_TRUE(fits(" CXC132611 R2A 20000426TST", IDC_VERSION));
    // The About title stays clear of the build stamp that follows it on the same row.
    EXPECT_LE(f.panel().control(IDC_ABOUTTITLE)->x() +
                  metrics.horizontalAdvance(QStringLiteral("ABOUT BUILD FROM")),
              f.panel().control(IDC_BUILDSTAMP)->x());
    for (const ControlSpec& entry : panelLayout()) {
        const bool hasValueFont = f.panel().control(entry.id)->font() == value;
        EXPECT_EQ(hasValueFont, (entry.style & kValueFont) != 0) << "control " << entry.id;
    }
    // The panel font: an 8-point proportional face.
    const QFont panelFont = f.panel().control(IDC_STATUS)->font();
    EXPECT_EQ(panelFont.pointSize(), 8);
    EXPECT_FALSE(QFontInfo(panelFont).fixedPitch());
}

TEST(PanelOperations, ClearImageFieldsKeepsFramesTotalAndTime) {
    WindowFixture f;
    for (int id : kValueFields) f.panel().setFieldText(id, "x");
    f.panel().setStatus("busy");
    f.panel().setControlEnabled(IDC_UPDATE, true);
    f.panel().clearImageFields();
    for (int id : {IDC_MODULE, IDC_FORMAT, IDC_DUMPSIZE, IDC_CRC, IDC_VERSION, IDC_PHONE, IDC_IMEI,
                   IDC_FRAMESSENT, IDC_LOADER}) {
        EXPECT_EQ(f.text(id), "") << "control " << id;
    }
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(f.text(IDC_LINKSTATE), "CLOSED");
    EXPECT_EQ(f.text(IDC_FRAMESTOTAL), "x");
    EXPECT_EQ(f.text(IDC_TIME), "x");
    EXPECT_FALSE(f.enabled(IDC_UPDATE));
}

TEST(PanelOperations, ProgressFillsInRangeStepsAndStartsOverOnTheNext) {
    WindowFixture f;
    QProgressBar* bar = progressBar(f.panel());
    f.panel().progressStart(57);
    EXPECT_EQ(bar->maximum(), 57);
    for (int i = 0; i < 57; ++i) f.panel().progressStep();
    EXPECT_EQ(bar->value(), 57);
    f.panel().progressStep();  // step 58 starts the bar over
    EXPECT_EQ(bar->value(), 0);
    f.panel().progressStep();
    EXPECT_EQ(bar->value(), 1);
    f.panel().progressReset();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->maximum(), 57);  // the range stays
    // The whole count is kept (no 16-bit cut), and an empty range draws an empty bar, not a busy one.
    f.panel().progressStart(70000);
    EXPECT_EQ(bar->maximum(), 70000);
    f.panel().progressStart(0);
    EXPECT_GT(bar->maximum(), bar->minimum());
    f.panel().progressStep();
    EXPECT_EQ(bar->value(), 0);
}

TEST(PanelOperations, FieldTextsAreUtf8AndPlain) {
    WindowFixture f;
    f.panel().setFieldText(IDC_VERSION, " <b>CXC</b> \xC3\x84");
    EXPECT_EQ(f.panel().text(IDC_VERSION), QStringLiteral(" <b>CXC</b> \u00C4"));
    EXPECT_EQ(qobject_cast<QLabel*>(f.panel().control(IDC_VERSION))->textFormat(), Qt::PlainText);
    f.panel().setFieldText(IDC_UPDATE, "Abort");
    EXPECT_EQ(f.text(IDC_UPDATE), "Abort");
    f.panel().setControlVisible(IDC_PHONE, false);
    EXPECT_FALSE(f.panel().control(IDC_PHONE)->isVisible());
}

TEST(AboutPane, TogglesPaneAndCaptionKeepingTexts) {
    WindowFixture f;
    f.panel().setFieldText(IDC_MODULE, " UPDATE");
    f.panel().setFieldText(IDC_FORMAT, "SBIN");
    f.clickButton(IDC_ABOUT);
    EXPECT_TRUE(f.panel().aboutShown());
    EXPECT_EQ(f.text(IDC_ABOUT), "Data Info");
    for (int id : {IDC_ABOUTTITLE, IDC_CREDITS, IDC_BUILDSTAMP})
        EXPECT_TRUE(f.panel().control(id)->isVisible());
    for (int id : {IDC_MODULE_LABEL, IDC_MODULE, IDC_FORMAT})
        EXPECT_FALSE(f.panel().control(id)->isVisible());
    // Only those three go: the rows beneath the credits stay in place.
    for (int id : {IDC_VERSION, IDC_DUMPSIZE, IDC_CRC, IDC_VERSION_LABEL})
        EXPECT_TRUE(f.panel().control(id)->isVisible());
    // Hidden fields can still be written.
    f.panel().setFieldText(IDC_FORMAT, "SHEX");

    f.clickButton(IDC_ABOUT);
    EXPECT_FALSE(f.panel().aboutShown());
    EXPECT_EQ(f.text(IDC_ABOUT), "About");
    for (int id : {IDC_ABOUTTITLE, IDC_CREDITS, IDC_BUILDSTAMP})
        EXPECT_FALSE(f.panel().control(id)->isVisible());
    EXPECT_EQ(f.text(IDC_MODULE), " UPDATE");
    EXPECT_EQ(f.text(IDC_FORMAT), "SHEX");
    EXPECT_TRUE(f.panel().control(IDC_MODULE)->isVisible());
}

TEST(AboutPane, WorksWhileUpdateIsDisabled) {
    WindowFixture f;
    f.panel().setControlEnabled(IDC_LOADSW, false);
    ASSERT_FALSE(f.enabled(IDC_UPDATE));
    f.clickButton(IDC_ABOUT);
    EXPECT_TRUE(f.panel().aboutShown());
}

TEST(Ports, OneGroupAndTheDigitFromTheFirstThreeOnly) {
    WindowFixture f;
    auto radio = [&](int id) { return qobject_cast<QRadioButton*>(f.panel().control(id)); };
    f.clickButton(IDC_COM3);
    EXPECT_EQ(f.panel().selectedPortDigit(), '3');
    EXPECT_FALSE(radio(IDC_COM1)->isChecked());
    f.clickButton(IDC_COM4);
    EXPECT_EQ(f.panel().selectedPortDigit(), '4');
    EXPECT_FALSE(radio(IDC_COM3)->isChecked());
    f.clickButton(IDC_COM2);
    EXPECT_EQ(f.panel().selectedPortDigit(), '2');
    // None of COM 1..3 checked gives '4' even with COM 4 unchecked too.
    QButtonGroup* group = radio(IDC_COM2)->group();
    ASSERT_NE(group, nullptr);
    group->setExclusive(false);
    radio(IDC_COM2)->setChecked(false);
    ASSERT_FALSE(radio(IDC_COM4)->isChecked());
    EXPECT_EQ(f.panel().selectedPortDigit(), '4');
    // Clicking a port changes only the selection: nothing is opened.
    EXPECT_FALSE(f.window.session().link().isOpen());
}

TEST(Ports, KeyboardAndAccessibleToggleCountLikeAClick) {
    WindowFixture f;
    QWidget* com3 = f.panel().control(IDC_COM3);
    com3->setFocus();
    QTest::keyClick(com3, Qt::Key_Space);
    EXPECT_EQ(f.panel().selectedPortDigit(), '3');

    QAccessibleInterface* com2 = QAccessible::queryAccessibleInterface(f.panel().control(IDC_COM2));
    ASSERT_NE(com2, nullptr);
    QAccessibleActionInterface* actions = com2->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(f.panel().selectedPortDigit(), '2');
}

TEST(Ports, TooltipsNameTheDeviceAndWhetherItCanBeUsed) {
    WindowFixture f;
    const std::string missing = "/nonexistent-dir/ttyNONE";
    f.window.setPortResolver([&](char digit) {
        return digit == '1' ? std::string("/dev/null") : digit == '3' ? std::string("/tmp") : missing;
    });
    EXPECT_EQ(f.panel().control(IDC_COM1)->toolTip(), QStringLiteral("/dev/null: ready"));
    EXPECT_EQ(f.panel().control(IDC_COM2)->toolTip(), QStringLiteral("/nonexistent-dir/ttyNONE: missing"));
    EXPECT_EQ(f.panel().control(IDC_COM3)->toolTip(), QStringLiteral("/tmp: not usable"));
    // The link follows the same mapping.
    EXPECT_FALSE(f.window.session().link().open('2', 9600));
    EXPECT_EQ(f.window.session().link().lastOpenPath(), missing);
}

TEST(Accessibility, ValueFieldsDescribeWhatTheyShowAndAreNamedByTheirText) {
    WindowFixture f;
    const std::pair<int, const char*> expected[] = {
        {IDC_MODULE, "Module"},
        {IDC_FORMAT, "Format"},
        {IDC_VERSION, "Version"},
        {IDC_DUMPSIZE, "Dump size"},
        {IDC_CRC, "CRC"},
        {IDC_PHONE, "Phone"},
        {IDC_IMEI, "IMEI"},
        {IDC_FRAMESSENT, "Frames sent"},
        {IDC_FRAMESTOTAL, "Frames total"},
        {IDC_TIME, "Time"},
        {IDC_STATUS, "Status"},
        {IDC_LINKSTATE, "Link state"},
        {IDC_LOADER, "Loader"},
        {IDC_BUILDSTAMP, "Build stamp"},
        {IDC_CREDITS, "Credits"},
    };
    for (const auto& [id, description] : expected) {
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(f.panel().control(id));
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(QAccessible::Description), QString::fromLatin1(description))
            << "control " << id;
    }
    f.panel().setFieldText(IDC_IMEI, " 123456-78-901234-5");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(f.panel().control(IDC_IMEI))->text(QAccessible::Name),
              QStringLiteral(" 123456-78-901234-5"));

    // Buttons and radio buttons are found by their captions among the panel's children.
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(&f.panel());
    ASSERT_NE(panel, nullptr);
    QStringList names;
    for (int i = 0; i < panel->childCount(); ++i) {
        QAccessibleInterface* child = panel->child(i);
        if (child->role() == QAccessible::PushButton || child->role() == QAccessible::RadioButton)
            names << child->text(QAccessible::Name);
    }
    for (const char* caption : {"About", "Load SW", "Update", "COM 1", "COM 2", "COM 3", "COM 4"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(caption))) << caption;
}

TEST(MessageBox, CaptionTextIconAndOneOkButton) {
    QMessageBox box;
    configureMessageBox(box, "Data transmit error encountered.\n or if the cable is properly connected",
                        "Error", MessageIcon::Error);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Error"));
    EXPECT_EQ(box.text(),
              QStringLiteral("Data transmit error encountered.\n or if the cable is properly connected"));
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box.windowModality(), Qt::ApplicationModal);
    configureMessageBox(box, "Software updated completed", "Success", MessageIcon::None);
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
}

TEST(MessageBox, RealBoxIsModalOwnedByThePanelAndReturnsWhenClosed) {
    WindowFixture f;
    f.panel().setMessageBoxFunction({});  // the real box
    bool sawBox = false;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        sawBox = box != nullptr && box->parentWidget() == &f.panel() &&
                 box->windowTitle() == QStringLiteral("Hint");
        if (box) box->button(QMessageBox::Ok)->click();
    });
    f.panel().showMessage("You will have to remove the battery and put it back before restarting", "Hint",
                          MessageIcon::Error);
    EXPECT_TRUE(sawBox);
}
