#pragma once

#include <QLatin1String>
#include <QTest>
#include <QWidget>

// A control under `root` by its objectName; fails the test when there is
// none (the caller then gets a null pointer).
template <class T> T* control(const QWidget* root, const char* name)
{
    T* control = root->findChild<T*>(QLatin1String(name));
    if (!control)
        QTest::qFail(qPrintable(QStringLiteral("no control named %1").arg(QLatin1String(name))),
                     __FILE__, __LINE__);
    return control;
}

// Shows a window and waits until it is the active one, as a window the
// user works in.
inline bool showActive(QWidget* window)
{
    window->show();
    return QTest::qWaitForWindowActive(window);
}
