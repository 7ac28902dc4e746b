// A real main window for tests: timers stopped (tests tick by hand), message boxes and the file dialog
// replaced by recorders that read the box as it would show and note what the panel showed at the time.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QtTest/QTest>

#include "tests/support/sample_image.h"
#include "ui/main_window.h"

struct WindowFixture {
    WindowFixture() {
        panel().stopTimers();
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) ADD_FAILURE() << "window not exposed";
        panel().setMessageBoxFunction([this](QMessageBox& box) {
            std::string shown = box.windowTitle().toStdString() +
                                (box.icon() == QMessageBox::Critical ? " (error) " : " (none) ") +
                                box.text().toStdString();
            if (!box.informativeText().isEmpty()) shown += "\n" + box.informativeText().toStdString();
            messages.push_back(shown);
            atMessage.push_back(this->text(IDC_STATUS) + " | " + this->text(IDC_MODULE) + " | " +
                                this->text(IDC_UPDATE));
        });
        window.setOpenFileFunction([this] {
            statusAtDialog = text(IDC_STATUS);
            return answer;
        });
    }

    ControlPanel& panel() { return window.panel(); }
    std::string text(int id) { return panel().text(id).toStdString(); }
    bool enabled(int id) { return panel().control(id)->isEnabled(); }
    bool visible(int id) { return panel().control(id)->isVisible(); }
    void click(int id) {
        QTest::mouseClick(qobject_cast<QAbstractButton*>(panel().control(id)), Qt::LeftButton);
    }
    // Presses Load SW with the dialog answering `path` (nothing: cancelled).
    void load(std::optional<std::string> path) {
        answer = std::move(path);
        click(IDC_LOADSW);
    }

    MainWindow window;
    std::vector<std::string> messages;   // "Caption (error) text", then "\n" and the informative text if any
    std::vector<std::string> atMessage;  // "status | module | update button" while each box was up
    std::optional<std::string> answer;   // what the file dialog returns
    std::string statusAtDialog;
};
