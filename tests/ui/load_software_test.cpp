// Load SW through the window with real files on disk; only the dialog and the message box are replaced.
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "window_fixture.h"

using namespace sample;

namespace {

struct LoadSoftware : ::testing::Test {
    // Module, format, version, CRC, size, frames total.
    std::vector<std::string> fields() {
        std::vector<std::string> out;
        for (int id : {IDC_MODULE, IDC_FORMAT, IDC_VERSION, IDC_CRC, IDC_DUMPSIZE, IDC_FRAMESTOTAL})
            out.push_back(f.text(id));
        return out;
    }
    WindowFixture f;
    TempDir dir;
    const Bytes sbin = image(3, "CXC132611 R1A");
    const std::string size = " " + std::to_string(sbin.size()) + " bytes";
    const std::vector<std::string> loaded{" UPDATE", "SBIN", " CXC132611", "OK", size, "3"};
};

}  // namespace

TEST_F(LoadSoftware, FieldsFollowTheContentNotTheName) {
    const struct {
        std::string name;
        Bytes content;
        std::vector<std::string> fields;
    } rows[] = {
        {"update.final.sbin", sbin, loaded},
        {"looks-binary.sbin", toShex(sbin), {" LOOKS-BINARY", "SHEX", " CXC132611", "OK", size, "3"}},
        {"phone.r01",
         toEmma(sbin, "R2A", "20000426TST"),
         {" PHONE", "EMMA", " CXC132611 R2A 20000426TST", "OK", size, "3"}},
        {"bad.sbin", image(2, "CXC132611", 16, false), {" BAD", "SBIN", " CXC132611", "ERROR", "", "2"}},
        {"plain", image(1, "NO VERSION"), {" PLAIN", "SBIN", "", "OK", "", "1"}},
        {".hidden.sbin", sbin, {" ", "SBIN", " CXC132611", "OK", size, "3"}},
        {"bl\xC3\xA5.sbin",
         sbin,
         {" BL\xC3\x85", "SBIN", " CXC132611", "OK", size, "3"}},  // a letter, not bytes
    };
    for (const auto& row : rows) {
        f.load(dir.write(row.name, row.content));
        std::vector<std::string> expected = row.fields;
        if (expected[4].empty()) expected[4] = " " + std::to_string(row.content.size()) + " bytes";
        EXPECT_EQ(fields(), expected) << row.name;
        EXPECT_EQ(f.statusAtDialog, "Opening flash image ...");
        EXPECT_EQ(f.text(IDC_STATUS), "Ready");
        EXPECT_TRUE(f.enabled(IDC_UPDATE));  // bad checksums can still be sent
        ASSERT_TRUE(f.window.heldImage().image.has_value());
        EXPECT_EQ(f.window.heldImage().image->frameCount, std::stoi(row.fields[5]));
    }
    EXPECT_TRUE(f.messages.empty());
}

TEST_F(LoadSoftware, CancelOrAFileThatCannotBeOpenedKeepsTheHeldImage) {
    f.load(dir.write("update.final.sbin", sbin));
    f.load(std::nullopt);
    f.load((dir.path() / "typed-name-that-does-not-exist.sbin").string());
    f.load(dir.path().string());  // a directory opens on some systems but cannot be read whole
    EXPECT_EQ(f.messages, std::vector<std::string>(2, "Error (error) Unable to open flash image"));
    EXPECT_EQ(f.atMessage[0], "Opening flash image ... |  UPDATE | Update");
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(fields(), loaded);
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
    EXPECT_TRUE(f.window.heldImage().image.has_value());
}

TEST_F(LoadSoftware, AFileThatDoesNotReadDropsTheImageButNotTheFramesTotal) {
    const struct {
        std::string name;
        Bytes content;
        std::string message, atMessage;  // unrecognized shows its name in the box; corrupt clears first
    } rows[] = {
        {"notes.txt", bytesOf("\r\nS00600004844521B\r\n"), "Unrecognized flash image format",
         "Loading data ... |  NOTES | Update"},
        {"corrupt.sbin", sbin + bytesOf("\n"), "File is corrupt or unknown format", "Ready |  | Update"}};
    for (const auto& row : rows) {
        f.load(dir.write("update.final.sbin", sbin));
        f.messages.clear();
        f.atMessage.clear();
        f.load(dir.write(row.name, row.content));
        EXPECT_EQ(f.messages, std::vector<std::string>{"Error (error) " + row.message});
        EXPECT_EQ(f.atMessage, std::vector<std::string>{row.atMessage});
        EXPECT_EQ(fields(), (std::vector<std::string>{"", "", "", "", "", "3"}));
        EXPECT_EQ(f.text(IDC_STATUS), "Ready");
        EXPECT_FALSE(f.enabled(IDC_UPDATE));
        EXPECT_FALSE(f.window.heldImage().image.has_value());
    }
}

TEST(OpenDialog, TitleFileTypesAndATypedNameOfAMissingFile) {
    QFileDialog dialog;
    configureOpenDialog(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Open Software Update"));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_EQ(dialog.nameFilters(), (QStringList{"All Supported Types (*.shex *.shx *.sbin *.sbn *.r?\?)",
                                                 "Motorola SHEX ( *.shex; *.shx ) (*.shex *.shx)",
                                                 "Binary Image ( *.sbin; *.sbn ) (*.sbin *.sbn)",
                                                 "EMMA Files (*.rxx) (*.r?\?)", "All Files (*.*) (*)"}));
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("All Supported Types"));

    TempDir dir;
    const QString missing = QString::fromStdString((dir.path() / "not-there.sbin").string());
    QWidget owner;
    const OpenFileFunction open = platformOpenFile(&owner);
    QTimer::singleShot(100, [&] {  // type the name into the real dialog and press Open
        auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!shown) return;
        if (auto* name = shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(missing);
        QMetaObject::invokeMethod(shown, "accept");
    });
    QTimer cleaner;  // a dialog that refused the name is still up: fail instead of hanging
    QObject::connect(&cleaner, &QTimer::timeout, [] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
    });
    cleaner.start(1000);
    EXPECT_EQ(open(), std::optional<std::string>(missing.toStdString()));
}
