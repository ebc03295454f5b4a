#pragma once

#include "tests/support/ScriptedUi.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTimer>

// Types text as keystrokes, also characters beyond ASCII.
inline void TypeInto(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

// Drives whichever start-up dialog the main window's creation runs next.
// `seen` receives the dialog's objectName ("PassWords" or "NewID_Form").

// Types a login name and password into the login dialog and presses OK. A
// refused login would leave the dialog waiting: it is then ended with Quit.
inline void SignInWith(const QString& name, const QString& password, QString* seen = nullptr)
{
    OnNextModal([=](QDialog* dialog) {
        if (seen)
            *seen = dialog->objectName();
        auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("ELoginName"));
        auto* passwordEdit = dialog->findChild<QLineEdit*>(QStringLiteral("EPersonal_Code"));
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("Btn_OK"));
        auto* quit = dialog->findChild<QPushButton*>(QStringLiteral("btn_Quit"));
        if (!nameEdit || !passwordEdit || !ok || !quit) {
            QTest::qFail("not the login dialog", __FILE__, __LINE__);
            dialog->done(QDialog::Rejected);
            return;
        }
        TypeInto(nameEdit, name);
        TypeInto(passwordEdit, password);
        QTest::mouseClick(ok, Qt::LeftButton);
        if (dialog->isVisible())
            QTest::mouseClick(quit, Qt::LeftButton);
    });
}

// Ends the start-up dialog the way its user would give up: Quit on the login
// dialog, Terminate on the first-use dialog (its question must be answered
// Yes by the test).
inline void GiveUpStartupDialog(QString* seen = nullptr)
{
    OnNextModal([=](QDialog* dialog) {
        if (seen)
            *seen = dialog->objectName();
        for (const char* name : {"btn_Quit", "Terminate_Button"}) {
            if (auto* button = dialog->findChild<QPushButton*>(QLatin1String(name))) {
                QTest::mouseClick(button, Qt::LeftButton);
                break;
            }
        }
        if (dialog->isVisible()) {
            QTest::qFail("the start-up dialog did not end", __FILE__, __LINE__);
            dialog->done(QDialog::Rejected);
        }
    });
}

// A driver whose dialog never came would act on the next test's dialog.
inline void DropPendingDialogDrivers()
{
    for (QTimer* timer : qApp->findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
        delete timer;
}
