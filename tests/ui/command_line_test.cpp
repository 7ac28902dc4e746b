// phone-updater's command line: help and version with no display, and one FILE loaded as Load SW loads it.
#include "ui/command_line.h"

#include <QProcess>
#include <filesystem>

#include "window_fixture.h"

TEST(WindowCommandLine, TakesOneFileAndNamesWhatIsWrong) {
    using Parsed =
        std::tuple<bool, bool, std::optional<std::string>, std::string>;  // help, version, file, error
    const std::pair<std::vector<std::string>, Parsed> rows[] = {
        {{"--", "-odd.sbin", "--help"}, {false, false, "-odd.sbin", "one FILE at most"}},
        {{"--frob", "-h", "-x"}, {true, false, std::nullopt, "unknown option '--frob'"}},
        {{"-", "--version"}, {false, true, "-", ""}},
    };
    for (const auto& [words, parsed] : rows) {
        const WindowCommandLine line = parseWindowCommandLine(words);
        EXPECT_EQ(std::tie(line.help, line.version, line.file, line.error), parsed)
            << ::testing::PrintToString(words);
    }
}

TEST(WindowCommandLine, ProgramAnswersHelpAndVersionWithoutADisplayAndRefusesMistakes) {
    // `display`: a variable to set ("QT_QPA_PLATFORM=offscreen", "DISPLAY=:99"), or none.
    const auto run = [](const QStringList& arguments, const QString& display = {}) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        if (!display.isEmpty()) environment.insert(display.section('=', 0, 0), display.section('=', 1));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PHONE_UPDATER_PATH), arguments);
        EXPECT_TRUE(program.waitForFinished(10000));
        return std::tuple(program.exitCode(), program.readAllStandardOutput(),
                          program.readAllStandardError());
    };
    EXPECT_EQ(run({"--version"}), std::tuple(0, QByteArray("phone-updater " UPDATER_VERSION "\n"), ""));
    const auto help = run({"--help"});
    EXPECT_TRUE(std::get<0>(help) == 0 && std::get<1>(help).startsWith("usage: phone-updater [FILE]\n"));
    // No display named, or one named that nothing serves: one plain sentence, not Qt's abort.
    int unserved = 99;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(unserved))) ++unserved;
    for (const QString& display : {QString(), QStringLiteral("DISPLAY=:%1").arg(unserved)})
        EXPECT_EQ(run({}, display), std::tuple(1, QByteArray(),
                                               QByteArray("phone-updater: no display: set DISPLAY or "
                                                          "WAYLAND_DISPLAY, or run phone-updater-cli\n")))
            << display.toStdString();
    const auto [code, out, err] = run({"--frob"}, QStringLiteral("QT_QPA_PLATFORM=offscreen"));
    EXPECT_EQ(code, 64);
    EXPECT_TRUE(err.contains("phone-updater: unknown option '--frob'\nusage:")) << err.toStdString();
    // Qt's options are Qt's: with one FILE after them the window starts. What Qt says while it starts is
    // held back only until it has started.
    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));  // Qt warns of it
    window.setProcessEnvironment(environment);
    window.start(QStringLiteral(PHONE_UPDATER_PATH), {"-platform", "offscreen", "image.sbin"});
    EXPECT_FALSE(window.waitForFinished(1500));
    EXPECT_TRUE(window.readAllStandardError().contains("XDG_RUNTIME_DIR not set"));
    window.close();
    // Started with its standard descriptors closed (a launcher may do that), it opens them on the null device
    // first, so that nothing it opens later (Qt's own pipes took them once; a session's wake-up pipe or port
    // could) takes them.
    QProcess closed;
    closed.start(QStringLiteral("/bin/sh"), {"-c", "exec \"$0\" -platform offscreen 0<&- 1>&- 2>&-",
                                             QStringLiteral(PHONE_UPDATER_PATH)});
    EXPECT_FALSE(closed.waitForFinished(1500));
    const std::string fds = "/proc/" + std::to_string(closed.processId()) + "/fd/";
    std::error_code error;
    for (const char* fd : {"0", "1", "2"})
        EXPECT_EQ(std::filesystem::read_symlink(fds + fd, error), "/dev/null");
    closed.close();
}

TEST(WindowCommandLine, FileLoadsAsLoadSwWouldWithoutTheDialog) {
    WindowFixture f;
    sample::TempDir dir;
    f.window.loadImageFile(dir.write("update.final.sbin", sample::image(3, "CXC132611 R1A")));
    EXPECT_EQ(f.text(IDC_MODULE) + "|" + f.text(IDC_FRAMESTOTAL), " UPDATE|3");
    EXPECT_TRUE(f.enabled(IDC_UPDATE));
    f.window.loadImageFile((dir.path() / "missing.sbin").string());
    f.window.loadImageFile(dir.write("notes.r01", sample::bytesOf("no image here")));
    for (std::string& message : f.messages)
        message = message.substr(0, message.find('\n'));  // see LoadSoftware
    EXPECT_EQ(f.messages, (std::vector<std::string>{"Error (error) Unable to open flash image",
                                                    "Error (error) Unrecognized flash image format"}));
    EXPECT_EQ(f.statusAtDialog, "") << "the file dialog was shown";
}
