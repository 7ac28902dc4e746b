// Load SW through the window with real files on disk; only the dialog and the message box are replaced.
#include <sys/resource.h>
#include <sys/wait.h>

#include <QFileDialog>

#include "tests/session/recording_panel.h"
#include "window_fixture.h"

using namespace sample;

namespace {

struct LoadSoftware : ::testing::Test {
    // Module, format, version, CRC, size and frames total, as the window shows them.
    std::string fields() {
        std::string out;
        for (int id : {IDC_MODULE, IDC_FORMAT, IDC_VERSION, IDC_CRC, IDC_DUMPSIZE, IDC_FRAMESTOTAL})
            out += f.text(id) + "|";
        return out;
    }
    WindowFixture f;
    TempDir dir;
    const Bytes sbin = image(3, "CXC132611 R1A");
    const std::string size = " " + std::to_string(sbin.size()) + " bytes|3|";
};

}  // namespace

TEST_F(LoadSoftware, FieldsFollowTheContentNotTheName) {
    const Bytes bad = image(2, "CXC132611", 16, false), plain = image(1, "NO VERSION");
    const Bytes odd = image(1, "CXC1\n2\304\3515");  // Latin-1 letters and a line feed in the version
    const std::tuple<std::string, Bytes, std::string> rows[] = {
        {"update.final.sbin", sbin, " UPDATE|SBIN| CXC132611|OK|" + size},
        {"looks-binary.sbin", toShex(sbin), " LOOKS-BINARY|SHEX| CXC132611|OK|" + size},
        {"bad.sbin", bad, " BAD|SBIN| CXC132611|ERROR| " + std::to_string(bad.size()) + " bytes|2|"},
        {"plain", plain, " PLAIN|SBIN||OK| " + std::to_string(plain.size()) + " bytes|1|"},
        {"bl\xC3\xA5.sbin", sbin, " BL\xC3\x85|SBIN| CXC132611|OK|" + size},  // a letter, not bytes
        {"a\t\xe9.sbin", odd,  // a name that is not UTF-8 is Latin-1; every field stays one line
         " A\u2409\u00c9|SBIN| CXC1\u240a2\u00c4\u00e95|OK| " + std::to_string(odd.size()) + " bytes|1|"},
    };
    for (const auto& [name, content, shown] : rows) {
        f.load(dir.write(name, content));
        EXPECT_EQ(fields(), shown);
        EXPECT_EQ(f.statusAtDialog + "|" + f.text(IDC_STATUS), "Opening flash image ...|Ready");
        EXPECT_TRUE(f.enabled(IDC_UPDATE));  // bad checksums can still be sent
        EXPECT_EQ(f.window.heldImage().image->size, readImage(content).image.size);
    }
    EXPECT_TRUE(f.messages.empty());
    ImageSummary past2GiB;
    past2GiB.size = 3'000'000'000u;
    showSummary(f.panel(), past2GiB);
    EXPECT_EQ(f.text(IDC_DUMPSIZE), " 3000000000 bytes");
}

TEST_F(LoadSoftware, CancelOrAFileThatCannotBeOpenedKeepsTheHeldImage) {
    f.load(dir.write("update.final.sbin", sbin));
    f.load(std::nullopt);
    f.load((dir.path() / "typed-name-that-does-not-exist.sbin").string());
    f.load(dir.path().string());  // a directory opens on some systems but cannot be read whole
    EXPECT_EQ(f.messages,
              (std::vector<std::string>{
                  "Error (error) Unable to open flash image\n" + dir.path().string() +
                      "/typed-name-that-does-not-exist.sbin: no such file or directory",
                  "Error (error) Unable to open flash image\n" + dir.path().string() + ": is a directory"}));
    EXPECT_EQ(f.atMessage[0], "Opening flash image ... |  UPDATE | Update");
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(fields(), " UPDATE|SBIN| CXC132611|OK|" + size);
    EXPECT_TRUE(f.enabled(IDC_UPDATE) && f.window.heldImage().image);
}

TEST_F(LoadSoftware, AFileThatDoesNotReadDropsTheImageButNotTheFramesTotal) {
    // Unrecognized content shows its name in the box; a corrupt file's fields are cleared before it. The
    // informative text names the file and the check that refused it.
    const std::tuple<std::string, Bytes, std::string, std::string> rows[] = {
        {"notes.txt", bytesOf("\r\nS00600004844521B\r\n"), "Unrecognized flash image format",
         "the first bytes, 0D 0A 53 30 (\"..S0\"), are not the start of an SBIN, SHEX or EMMA image|Loading "
         "data ... |  NOTES"},
        {"corrupt.sbin", sbin + bytesOf("\n"), "File is corrupt or unknown format",
         "read as SBIN, frame 6 at offset " + std::to_string(sbin.size()) +
             " begins with 0A (\".\"), not with S|Ready | "}};
    for (const auto& [name, content, message, reason] : rows) {
        f.load(dir.write("update.final.sbin", sbin));
        f.messages.clear();
        f.atMessage.clear();
        const std::string path = dir.write(name, content);
        f.load(path);
        ASSERT_EQ(f.messages.size(), 1u);
        EXPECT_EQ(f.messages[0] + "|" + f.atMessage[0],
                  "Error (error) " + message + "\n" + path + ": " + reason + " | Update");
        EXPECT_EQ(fields(), "|||||3|");
        EXPECT_EQ(f.text(IDC_STATUS), "Ready");
        EXPECT_FALSE(f.enabled(IDC_UPDATE) || f.window.heldImage().image);
    }
}

TEST(LoadSoftwareMemory, AnImageTooLargeForTheMemoryLeftIsReportedLikeOneThatCannotBeOpened) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under an address-space limit";
#endif
    TempDir dir;
    Bytes emma = toEmma(image(3));
    emma.resize(emma.size() + (64 << 20), '\n');  // line ends between records are skipped
    const std::string path = dir.write("big.r00", emma);
    const pid_t child = ::fork();  // no widget in the child: Qt's threads do not survive a fork
    if (child == 0)
        [&]() noexcept {  // room for what is mapped and the file, not for its decoded copy; exceptions abort
            std::size_t pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t room = pages * ::sysconf(_SC_PAGESIZE) + emma.size() + (16 << 20);
            const rlimit limit{room, room};
            if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
            RecordingPanel panel;
            HeldImage held;
            loadSoftware(panel, held, [&] { return std::optional(path); });
            const std::string last = panel.calls().back();
            const std::string want = "message Error (error) Unable to open flash image\n" + path;
            ::_exit(!held.image && last == want + ": too large to hold in memory" ? 0 : 1);
        }();
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << (WIFSIGNALED(status) ? "an exception escaped" : "not reported as no memory");
}

TEST(OpenDialog, TitleFileTypesAndAnyTypedName) {
    QFileDialog dialog;
    configureOpenDialog(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Open Software Update"));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);  // a typed name of a missing file comes back
    EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_EQ(dialog.nameFilters(), (QStringList{"All Supported Types (*.shex *.shx *.sbin *.sbn *.r?\?)",
                                                 "Motorola SHEX ( *.shex; *.shx ) (*.shex *.shx)",
                                                 "Binary Image ( *.sbin; *.sbn ) (*.sbin *.sbn)",
                                                 "EMMA Files (*.rxx) (*.r?\?)", "All Files (*.*) (*)"}));
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("All Supported Types"));
}
