#include "SignedInMainForm.h"

#include "Controls.h"
#include "Keyboard.h"
#include "ScriptedUi.h"
#include "TempWorkDir.h"

#include "admin/MainForm.h"
#include "app/SecurityManager.h"

#include <QDir>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void signInWith(const QString& name, const QString& password, QString* seen)
{
    onNextModal([=](QDialog* dialog) {
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
        typeText(nameEdit, name);
        typeText(passwordEdit, password);
        QTest::mouseClick(ok, Qt::LeftButton);
        if (dialog->isVisible())
            QTest::mouseClick(quit, Qt::LeftButton);
        if (dialog->isVisible())
            dialog->done(QDialog::Rejected);
    });
}

void giveUpStartupDialog(QString* seen)
{
    onNextModal([=](QDialog* dialog) {
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

SignedInMainWindow::SignedInMainWindow(const QString& loginName, const QString& password)
{
    signInWith(loginName, password);
    m_manager = std::make_unique<SecurityManager>(QDir::currentPath());
    m_manager->start();
}

SignedInMainWindow::~SignedInMainWindow() = default;

TMainForm* SignedInMainWindow::get() const
{
    return m_manager->mainForm();
}

bool SignedInMainWindow::signedIn() const
{
    return get() && get()->windowTitle().startsWith(QStringLiteral("KVS - "));
}

QWidget* SignedInMainWindow::child(const char* name) const
{
    return control<QWidget>(get(), name);
}

std::unique_ptr<SignedInMainWindow> adminMainWindowIn(TempWorkDir& dir)
{
    dir.copyFixture(QStringLiteral("three-users.acl"));
    ScriptedUi scripted;
    auto window = std::make_unique<SignedInMainWindow>();
    const QString problems = scripted.problems();
    if (!problems.isEmpty())
        QTest::qFail(qPrintable(QStringLiteral("sign-in of the main window: ") + problems),
                     __FILE__, __LINE__);
    return window;
}
