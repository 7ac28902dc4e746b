// Load SW through the window with real files on disk; only the dialog and the message box are replaced.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "image_files.h"
#include "window_fixture.h"

namespace {

const ShownMessage kUnableToOpen{"Unable to open flash image", "Error", MessageIcon::Error};
const ShownMessage kUnrecognized{"Unrecognized flash image format", "Error", MessageIcon::Error};
const ShownMessage kCorrupt{"File is corrupt or unknown format", "Error", MessageIcon::Error};

struct LoadSoftware : ::testing::Test {
    WindowFixture f;
    TempDir dir;
    Bytes sbin = sbinImage("CXC132611 R1A", 3);

    void expectImageFields(const std::string& module, const std::string& format, const std::string& version,
                           const std::string& crc, const std::string& size, const std::string& frames) {
        EXPECT_EQ(f.text(IDC_MODULE), module);
        EXPECT_EQ(f.text(IDC_FORMAT), format);
        EXPECT_EQ(f.text(IDC_VERSION), version);
        EXPECT_EQ(f.text(IDC_CRC), crc);
        EXPECT_EQ(f.text(IDC_DUMPSIZE), size);
        EXPECT_EQ(f.text(IDC_FRAMESTOTAL), frames);
    }
    void loadGoodImage() {
        f.load(dir.write("update.final.sbin", sbin));
        ASSERT_TRUE(f.window.heldImage().image.has_value());
    }
};

}  // namespace

TEST_F(LoadSoftware, SbinImageFillsEveryFieldAndEnablesUpdate) {
    f.load(dir.write("update.final.sbin", sbin));
    EXPECT_EQ(f.dialogsShown, 1);
    EXPECT_EQ(f.statusAtDialog, "Opening flash image ...");
    EXPECT_TRUE(f.messages.empty());
    expectImageFields(" UPDATE", "SBIN", " CXC132611", "OK", " " + std::to_string(sbin.size()) + " bytes",
                      "3");
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
    ASSERT_TRUE(f.window.heldImage().image.has_value());
    EXPECT_EQ(f.window.heldImage().image->frameCount, 3);
    EXPECT_EQ(f.window.heldImage().image->size, sbin.size());
}

TEST_F(LoadSoftware, FormatFollowsTheContentNotTheName) {
    const std::string text = shexText(sbin);
    f.load(dir.write("looks-binary.sbin", text));
    EXPECT_EQ(f.text(IDC_FORMAT), "SHEX");
    EXPECT_EQ(f.text(IDC_DUMPSIZE), " " + std::to_string(sbin.size()) + " bytes");  // frame bytes, not text
    EXPECT_EQ(f.text(IDC_MODULE), " LOOKS-BINARY");

    f.load(dir.write("phone.r01", emmaFile(sbin)));
    EXPECT_EQ(f.text(IDC_FORMAT), "EMMA");
    EXPECT_EQ(f.text(IDC_VERSION), " CXC132611 R2A 20000426TST");
    EXPECT_EQ(f.text(IDC_CRC), "OK");
    EXPECT_EQ(f.text(IDC_FRAMESTOTAL), "3");
    EXPECT_TRUE(f.messages.empty());
}

TEST_F(LoadSoftware, BadChecksumsShowErrorButStillEnableUpdate) {
    f.load(dir.write("bad.sbin", sbinImage("CXC132611 R1A", 2, false)));
    EXPECT_EQ(f.text(IDC_CRC), "ERROR");
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.messages.empty());
}

TEST_F(LoadSoftware, NoVersionTextLeavesVersionEmpty) {
    const Bytes plain = sbinImage("NO VERSION", 1);
    f.load(dir.write("plain.sbin", plain));
    expectImageFields(" PLAIN", "SBIN", "", "OK", " " + std::to_string(plain.size()) + " bytes", "1");
}

TEST_F(LoadSoftware, ModuleNameRules) {
    f.load(dir.write("firmware", sbin));
    EXPECT_EQ(f.text(IDC_MODULE), " FIRMWARE");
    f.load(dir.write(".hidden.sbin", sbin));
    EXPECT_EQ(f.text(IDC_MODULE), " ");
    f.load(dir.write("bl\xC3\xA5.sbin", sbin));  // "blå": upper-cased as a letter, not as bytes
    EXPECT_EQ(f.text(IDC_MODULE), " BL\xC3\x85");
}

TEST_F(LoadSoftware, CancelKeepsTheHeldImageAndFields) {
    loadGoodImage();
    f.load(std::nullopt);
    EXPECT_EQ(f.dialogsShown, 2);
    EXPECT_TRUE(f.messages.empty());
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    expectImageFields(" UPDATE", "SBIN", " CXC132611", "OK", " " + std::to_string(sbin.size()) + " bytes",
                      "3");
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.window.heldImage().image.has_value());
}

TEST_F(LoadSoftware, MissingOrUnreadableFileIsUnableToOpenAndChangesNothing) {
    loadGoodImage();
    f.load((dir.path() / "typed-name-that-does-not-exist.sbin").string());
    f.load(dir.path().string());  // a directory opens on some systems but cannot be read whole
    ASSERT_EQ(f.messages, (std::vector<ShownMessage>{kUnableToOpen, kUnableToOpen}));
    EXPECT_EQ(f.statusAtMessage[0], "Opening flash image ...");
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    expectImageFields(" UPDATE", "SBIN", " CXC132611", "OK", " " + std::to_string(sbin.size()) + " bytes",
                      "3");
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.window.heldImage().image.has_value());
}

TEST_F(LoadSoftware, UnrecognizedFormatMessageComesBeforeTheFieldsAreCleared) {
    loadGoodImage();
    f.load(dir.write("notes.txt", std::string("\r\nS00600004844521B\r\n")));
    ASSERT_EQ(f.messages, std::vector<ShownMessage>{kUnrecognized});
    EXPECT_EQ(f.moduleAtMessage[0], " NOTES");   // the name was shown while the box was up
    expectImageFields("", "", "", "", "", "3");  // the earlier image's count stays
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_FALSE(f.enabled(IDC_UPDATE));
    EXPECT_FALSE(f.window.heldImage().image.has_value());
}

TEST_F(LoadSoftware, CorruptFileClearsTheFieldsBeforeItsMessage) {
    loadGoodImage();
    Bytes corrupt = sbin;
    corrupt.push_back('\n');  // a line end after the last frame
    f.load(dir.write("corrupt.sbin", corrupt));
    ASSERT_EQ(f.messages, std::vector<ShownMessage>{kCorrupt});
    EXPECT_EQ(f.moduleAtMessage[0], "");
    EXPECT_EQ(f.statusAtMessage[0], "Ready");
    expectImageFields("", "", "", "", "", "3");
    EXPECT_FALSE(f.enabled(IDC_UPDATE));
    EXPECT_FALSE(f.window.heldImage().image.has_value());
    // A later good load brings Update back.
    loadGoodImage();
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
}

TEST(OpenDialog, TitleFileTypesAndAnyTypedName) {
    QFileDialog dialog;
    configureOpenDialog(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Open Software Update"));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    const QStringList filters = dialog.nameFilters();
    ASSERT_EQ(filters.size(), 5);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("All Supported Types (")));
    EXPECT_TRUE(filters[1].startsWith(QStringLiteral("Motorola SHEX ( *.shex; *.shx ) (")));
    EXPECT_TRUE(filters[2].startsWith(QStringLiteral("Binary Image ( *.sbin; *.sbn ) (")));
    EXPECT_TRUE(filters[3].startsWith(QStringLiteral("EMMA Files (*.rxx) (")));
    EXPECT_TRUE(filters[4].startsWith(QStringLiteral("All Files (*.*) (")));
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("All Supported Types"));  // shown without patterns
    EXPECT_EQ(filters[0], QStringLiteral("All Supported Types (*.shex *.shx *.sbin *.sbn *.r?\?)"));
}

TEST(OpenDialog, TypedNameOfAMissingFileIsReturned) {
    TempDir dir;
    const QString missing = QString::fromStdString((dir.path() / "not-there.sbin").string());
    QWidget owner;
    const OpenFileFunction open = platformOpenFile(&owner);
    // Type the name into the real dialog once it is up, and accept it.
    QTimer::singleShot(100, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(missing);
        QMetaObject::invokeMethod(dialog, "accept");  // as pressing Open does
    });
    // A dialog that refused the name is still up (with its own warning box): cancel whatever is up, so the
    // test fails instead of hanging.
    QTimer cleaner;
    QObject::connect(&cleaner, &QTimer::timeout, [] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
    });
    cleaner.start(1000);
    const std::optional<std::string> chosen = open();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, missing.toStdString());
}
