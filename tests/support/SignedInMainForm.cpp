#include "SignedInMainForm.h"

#include "ScriptedUi.h"

#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "store/UserTable.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

SignedInMainWindow::SignedInMainWindow(const QString& loginName, const QString& password)
{
    ResetUserTable();
    OnNextModal([=](QDialog* login) {
        auto* name = login->findChild<QLineEdit*>(QStringLiteral("ELoginName"));
        auto* code = login->findChild<QLineEdit*>(QStringLiteral("EPersonal_Code"));
        auto* ok = login->findChild<QPushButton*>(QStringLiteral("Btn_OK"));
        if (!name || !code || !ok) {
            QTest::qFail("the login dialog did not come", __FILE__, __LINE__);
            login->done(QDialog::Rejected);
            return;
        }
        TypeText(name, loginName);
        TypeText(code, password);
        QTest::mouseClick(ok, Qt::LeftButton);
        if (login->isVisible()) {
            if (auto* quit = login->findChild<QPushButton*>(QStringLiteral("btn_Quit")))
                QTest::mouseClick(quit, Qt::LeftButton);
            if (login->isVisible())
                login->done(QDialog::Rejected);
        }
    });
    m_form = new TMainForm();
    if (!NewAccoForm) {
        NewAccoForm = new TNewAccoForm();
        m_ownsNewAccoForm = true;
    }
}

SignedInMainWindow::~SignedInMainWindow()
{
    delete m_form;
    if (m_ownsNewAccoForm) {
        delete NewAccoForm;
        NewAccoForm = nullptr;
    }
}

bool SignedInMainWindow::signedIn() const
{
    return m_form && m_form->windowTitle().startsWith(QStringLiteral("KVS - "));
}

QWidget* SignedInMainWindow::child(const char* name) const
{
    auto* widget = m_form->findChild<QWidget*>(QLatin1String(name));
    if (!widget)
        QTest::qFail(qPrintable(QStringLiteral("no control named %1").arg(QLatin1String(name))),
                     __FILE__, __LINE__);
    return widget;
}
