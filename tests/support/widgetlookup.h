#pragma once

#include <QWidget>

#include <gtest/gtest.h>

namespace quendle::testing {

// The control of a window by its design name; fails the test when there is none.
template <class T = QWidget> T* control(const QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << "no control named " << name;
    return found;
}

// Position of a control relative to `ancestor`, to compare with the layout table.
inline QRect placeIn(const QWidget* control, const QWidget* ancestor)
{
    return QRect(control->mapTo(ancestor, QPoint(0, 0)), control->size());
}

} // namespace quendle::testing
