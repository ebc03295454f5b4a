#pragma once

#include "admin/MainForm.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempWorkDir.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// Types text character by character (QTest::keyClicks takes Latin-1 only).
inline void TypeText(QWidget* widget, const QString& text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The dialogs report to the real main window, whose creation runs the whole
// start-up: sign it in as the fixture's admin in a directory of its own.
inline TMainForm* SignedInMainForm(TempWorkDir& dir)
{
    dir.copyFixture(QStringLiteral("three-users.acl"));
    ScriptedUi scripted;
    OnNextModal([](QDialog* login) {
        QTest::keyClicks(login->findChild<QLineEdit*>(QStringLiteral("ELoginName")), "admin");
        QTest::keyClicks(login->findChild<QLineEdit*>(QStringLiteral("EPersonal_Code")), "secret");
        QTest::mouseClick(login->findChild<QPushButton*>(QStringLiteral("Btn_OK")), Qt::LeftButton);
    });
    auto* form = new TMainForm();
    if (!scripted.problems().isEmpty())
        qWarning("sign-in of the main window: %s", qPrintable(scripted.problems()));
    return form;
}
