// The program itself: start-up that cannot reach a display ends with exit code 1 and says nothing.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

TEST(Startup, NoDisplayEndsWithCodeOneAndNoMessage) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PHONE_UPDATER_PATH), {});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_TRUE(program.readAllStandardError().isEmpty());
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

TEST(Startup, KeepsRunningItsMessageLoopAndReportsItsFirstPaint) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PHONE_UPDATER_REPORT_FIRST_PAINT"), QStringLiteral("1"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PHONE_UPDATER_PATH), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // It paints its window and keeps running its message loop.
    program.setReadChannel(QProcess::StandardError);
    QByteArray errors;
    while (!errors.contains("first-paint-ns ") && program.waitForReadyRead(10000)) {
        errors += program.readAllStandardError();
    }
    EXPECT_TRUE(errors.contains("first-paint-ns ")) << errors.toStdString();
    EXPECT_FALSE(program.waitForFinished(500));
    EXPECT_EQ(program.state(), QProcess::Running);
    program.terminate();
    EXPECT_TRUE(program.waitForFinished(5000));
}
