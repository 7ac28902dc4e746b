#include "window_fixture.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QtTest/QTest>

void WindowFixture::clickButton(int id) {
    auto* button = qobject_cast<QAbstractButton*>(panel().control(id));
    QTest::mouseClick(button, Qt::LeftButton);
}

void WindowFixture::show() {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) ADD_FAILURE() << "window not exposed";
}
