#pragma once

#include <QString>
#include <QTest>
#include <QWidget>

// Types text as keystrokes, one character each, also characters beyond
// Latin-1 (QTest::keyClicks takes Latin-1 only).
inline void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}
