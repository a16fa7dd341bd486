// A window's controls found by name as a user would meet them: where they stand, what they
// say, and the order the Tab key visits them in.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace lumenvale::test {

// The control of `window` named `name`; a test failure when there is none.
template <typename T> T* Control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// A control as the window definition describes it: its place in twips (15 to the pixel) and
// its caption or initial text, nullptr for a control without one.
struct PlacedControl {
    const char* name;
    const char* text;
    int left, top, width, height;
};

inline void ExpectPlaced(const QWidget& window, std::initializer_list<PlacedControl> table) {
    for (const PlacedControl& p : table) {
        SCOPED_TRACE(p.name);
        auto* widget = Control<QWidget>(window, p.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15));
        if (p.text == nullptr) {
            continue;
        }
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            text = edit->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
        }
        EXPECT_EQ(text, QString::fromUtf8(p.text));
    }
}

// The names of the window's own controls that Tab stops at, in the order it visits them,
// starting from `first`.
inline std::vector<std::string> TabOrder(const QWidget& window, const char* first) {
    std::vector<std::string> order;
    QWidget* start = Control<QWidget>(window, first);
    QWidget* widget = start;
    do {
        if (widget->parentWidget() == &window && (widget->focusPolicy() & Qt::TabFocus) != 0) {
            order.push_back(widget->objectName().toStdString());
        }
        widget = widget->nextInFocusChain();
    } while (widget != nullptr && widget != start);
    return order;
}

} // namespace lumenvale::test
