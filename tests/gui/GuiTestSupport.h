#pragma once

// What the editor's tests do to windows: wait for something to happen while
// events run, act on a modal dialog from inside its own event loop, find a
// control by name and press buttons.
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>

#include <gtest/gtest.h>

namespace sonitor::test {

// Runs body on the modal dialog called name once it is shown (from a timer:
// the dialog's own event loop runs it).
inline void OnModal(const QString& name, std::function<void(QDialog&)> body, int attempts = 1000) {
    QTimer::singleShot(5, [name, body = std::move(body), attempts]() mutable {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->objectName() == name && dialog->isVisible())
            body(*dialog);
        else if (attempts > 0)
            OnModal(name, std::move(body), attempts - 1);
        else
            ADD_FAILURE() << "no modal dialog " << name.toStdString();
    });
}

// Runs events until done() holds; false after timeoutMs.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QTest::qWait(5);
    }
    return true;
}

template <class T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

inline void Click(QWidget& parent, const char* button) {
    if (auto* child = Child<QPushButton>(parent, button)) child->click();
}

}  // namespace sonitor::test
