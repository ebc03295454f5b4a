#include "app/SecurityManager.h"
#include "session/Session.h"
#include "signin/PassWords.h"
#include "tests/support/Controls.h"
#include "tests/support/Keyboard.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/SignedInMainForm.h"
#include "tests/support/TempWorkDir.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include <memory>

using Kind = MessageBox::Kind;
Q_DECLARE_METATYPE(MessageBox::Kind)

class LoginDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void layout();
    void messagesAndFocus_data();
    void messagesAndFocus();
    void incorrectPasswordThenEmpty();
    void enterInNameMovesToPassword();
    void enterInPasswordActsAsOk();
    void editsRefuseExtraCharacters();
    void quitEndsModalRun();
    void modalRunRefusesCloseUntilSignedIn();

private:
    QLineEdit* nameEdit() const { return edit("ELoginName"); }
    QLineEdit* passwordEdit() const { return edit("EPersonal_Code"); }
    QLineEdit* edit(const char* name) const { return control<QLineEdit>(m_dialog, name); }
    QPushButton* button(const char* name) const { return control<QPushButton>(m_dialog, name); }
    void showDialog() { QVERIFY(showActive(m_dialog)); }
    void attempt(const QString& name, const QString& password)
    {
        nameEdit()->clear();
        passwordEdit()->clear();
        typeText(nameEdit(), name);
        typeText(passwordEdit(), password);
        QTest::mouseClick(button("Btn_OK"), Qt::LeftButton);
    }
    void expectBox(Kind kind, const QString& text)
    {
        QCOMPARE(m_ui->shown.size(), 1);
        QCOMPARE(m_ui->shown[0].kind, kind);
        QCOMPARE(m_ui->shown[0].text, text);
        QCOMPARE(m_ui->shown[0].buttons, MessageBox::Buttons::Ok);
    }

    std::string signedInName() const { return m_session->me().loginName; }

    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<Session> m_session;
    TPassWords* m_dialog = nullptr;
};

void LoginDialogTest::initTestCase()
{
    // The program's own start-up runs this dialog and signs its user in.
    TempWorkDir startDir;
    auto main = adminMainWindowIn(startDir);
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(!terminateRequested());
    QCOMPARE(main->manager().loginDialog()->LoginState(), 1);
    QVERIFY(main->manager().session().signedIn());
    QCOMPARE(main->manager().session().me().loginName, std::string("admin"));
}

void LoginDialogTest::cleanupTestCase() {}

void LoginDialogTest::init()
{
    m_dir = std::make_unique<TempWorkDir>();
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    m_session = std::make_unique<Session>(Session::TableFileName);
    m_session->loadTable();
    m_ui = std::make_unique<ScriptedUi>();
    m_dialog = new TPassWords(*m_session);
}

void LoginDialogTest::cleanup()
{
    QVERIFY2(m_ui->problems().isEmpty(), qPrintable(m_ui->problems()));
    delete m_dialog;
    m_dialog = nullptr;
    m_session.reset();
    m_ui.reset();
    m_dir.reset();
}

void LoginDialogTest::layout()
{
    showDialog();
    QVERIFY(m_dialog->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(m_dialog->size(), QSize(375, 184));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    QCOMPARE(m_dialog->palette().color(QPalette::Window), QColor(Qt::black));
    QCOMPARE(m_dialog->LoginState(), -1);

    auto* cover = m_dialog->findChild<QLabel*>(QStringLiteral("CoverImage"));
    QVERIFY(cover);
    QCOMPARE(cover->pixmap().size(), QSize(380, 183));
    QVERIFY(!cover->hasScaledContents());
    QCOMPARE(cover->alignment(), Qt::AlignLeft | Qt::AlignTop);

    auto* panel = m_dialog->findChild<QFrame*>(QStringLiteral("MainPanel"));
    QCOMPARE(panel->geometry(), QRect(74, 56, 278, 87));
    QCOMPARE(panel->palette().color(QPalette::Window), QColor(192, 192, 192));
    QCOMPARE(nameEdit()->geometry(), QRect(113, 5, 159, 21));
    QCOMPARE(passwordEdit()->geometry(), QRect(113, 30, 159, 21));
    QCOMPARE(button("Btn_OK")->geometry(), QRect(6, 61, 123, 22));
    QCOMPARE(button("btn_Quit")->geometry(), QRect(148, 61, 123, 22));
    QCOMPARE(m_dialog->findChild<QLabel*>(QStringLiteral("LoginName_Label"))->text(),
             QStringLiteral("Login name"));
    QCOMPARE(m_dialog->findChild<QLabel*>(QStringLiteral("Password_Label"))->text(),
             QStringLiteral("Password"));
    QCOMPARE(button("Btn_OK")->text(), QStringLiteral("OK"));
    QCOMPARE(button("btn_Quit")->text(), QStringLiteral("Quit"));

    for (QLineEdit* e : {nameEdit(), passwordEdit()})
        QCOMPARE(e->palette().color(QPalette::Base), QColor(231, 240, 191));
    QCOMPARE(passwordEdit()->echoMode(), QLineEdit::Password);
    QCOMPARE(passwordEdit()->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                passwordEdit()),
             int('*'));

    // Only the two edits take the focus; the name edit first.
    QCOMPARE(button("Btn_OK")->focusPolicy(), Qt::NoFocus);
    QCOMPARE(button("btn_Quit")->focusPolicy(), Qt::NoFocus);
    QCOMPARE(m_dialog->focusWidget(), nameEdit());
}

void LoginDialogTest::messagesAndFocus_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("kind"); // -1: no box, signed in
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("passwordAfter");

    const int warning = int(Kind::Warning);
    const int error = int(Kind::Error);
    QTest::newRow("empty name") << ""
                                << "secret" << warning << "Enter your LOGIN NAME Please"
                                << "ELoginName"
                                << "secret";
    QTest::newRow("unknown name") << "nobody"
                                  << "secret" << error << "Incorrect login name!"
                                  << "ELoginName"
                                  << "secret";
    QTest::newRow("other letter case") << "Admin"
                                       << "secret" << error << "Incorrect login name!"
                                       << "ELoginName"
                                       << "secret";
    QTest::newRow("blanks only") << "   "
                                 << "secret" << error << "Incorrect login name!"
                                 << "ELoginName"
                                 << "secret";
    // The stored name has blanks around it: typed with or without them,
    // it is found.
    QTest::newRow("stored with blanks, wrong password")
        << " Renée "
        << "secret" << error << "Incorrect Password!"
        << "EPersonal_Code"
        << "";
    QTest::newRow("stored with blanks, typed without") << "Renée"
                                                       << "café€" << -1 << ""
                                                       << ""
                                                       << "café€";
    QTest::newRow("accents and euro, one changed") << "Renée"
                                                   << "cafe€" << error << "Incorrect Password!"
                                                   << "EPersonal_Code"
                                                   << "";
    QTest::newRow("empty password") << "admin"
                                    << "" << warning << "Enter your PASSWORD Please"
                                    << "EPersonal_Code"
                                    << "";
    QTest::newRow("wrong password") << "admin"
                                    << "Secret" << error << "Incorrect Password!"
                                    << "EPersonal_Code"
                                    << "";
    QTest::newRow("password not trimmed") << "admin"
                                          << " secret" << error << "Incorrect Password!"
                                          << "EPersonal_Code"
                                          << "";
    QTest::newRow("other user's password") << "clerk"
                                           << "secret" << error << "Incorrect Password!"
                                           << "EPersonal_Code"
                                           << "";
    QTest::newRow("name trimmed") << "  admin  "
                                  << "secret" << -1 << ""
                                  << ""
                                  << "secret";
    QTest::newRow("second user") << "clerk"
                                 << "Pa55w0rd" << -1 << ""
                                 << ""
                                 << "Pa55w0rd";
}

void LoginDialogTest::messagesAndFocus()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, focus);
    QFETCH(QString, passwordAfter);

    showDialog();
    typeText(nameEdit(), name);
    typeText(passwordEdit(), password);
    if (!focus.isEmpty())
        m_ui->answer(MessageBox::Button::Ok);
    QTest::mouseClick(button("Btn_OK"), Qt::LeftButton);

    QCOMPARE(nameEdit()->text(), name);
    QCOMPARE(passwordEdit()->text(), passwordAfter);
    if (kind < 0) {
        QVERIFY(m_ui->shown.isEmpty());
        QCOMPARE(m_dialog->LoginState(), 1);
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(m_session->signedIn());
        QCOMPARE(QString::fromStdString(signedInName()).trimmed(), name.trimmed());
        return;
    }
    expectBox(Kind(kind), text);
    QCOMPARE(m_dialog->LoginState(), -1);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->focusWidget()->objectName(), focus);
    QVERIFY(!m_session->signedIn());
}

void LoginDialogTest::incorrectPasswordThenEmpty()
{
    showDialog();
    m_ui->answer(MessageBox::Button::Ok);
    attempt(QStringLiteral("admin"), QStringLiteral("wrong"));
    QCOMPARE(passwordEdit()->text(), QString());
    QCOMPARE(nameEdit()->text(), QStringLiteral("admin"));

    // OK again with the emptied password edit.
    m_ui->answer(MessageBox::Button::Ok);
    QTest::mouseClick(button("Btn_OK"), Qt::LeftButton);
    QCOMPARE(m_ui->shown.size(), 2);
    QCOMPARE(m_ui->shown[1].kind, Kind::Warning);
    QCOMPARE(m_ui->shown[1].text, QStringLiteral("Enter your PASSWORD Please"));
    QCOMPARE(m_dialog->focusWidget(), passwordEdit());
    QVERIFY(!m_session->signedIn());
}

void LoginDialogTest::enterInNameMovesToPassword()
{
    showDialog();
    QTest::keyClicks(nameEdit(), "admin");
    QTest::keyClick(nameEdit(), Qt::Key_Return);
    QCOMPARE(m_dialog->focusWidget(), passwordEdit());
    QCOMPARE(nameEdit()->text(), QStringLiteral("admin"));
    QVERIFY(m_ui->shown.isEmpty());
    QCOMPARE(m_dialog->LoginState(), -1);

    // The keypad's Enter does the same.
    nameEdit()->setFocus();
    QTest::keyClick(nameEdit(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(m_dialog->focusWidget(), passwordEdit());
    QVERIFY(m_ui->shown.isEmpty());
}

void LoginDialogTest::enterInPasswordActsAsOk()
{
    showDialog();
    // Enter in the password edit with no name runs OK's first check.
    m_ui->answer(MessageBox::Button::Ok);
    QTest::keyClick(passwordEdit(), Qt::Key_Return);
    expectBox(Kind::Warning, QStringLiteral("Enter your LOGIN NAME Please"));

    QTest::keyClicks(nameEdit(), "clerk");
    QTest::keyClick(nameEdit(), Qt::Key_Return);
    QTest::keyClicks(m_dialog->focusWidget(), "Pa55w0rd");
    QTest::keyClick(m_dialog->focusWidget(), Qt::Key_Return);
    QCOMPARE(m_ui->shown.size(), 1);
    QCOMPARE(m_dialog->LoginState(), 1);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(signedInName(), std::string("clerk"));
}

void LoginDialogTest::editsRefuseExtraCharacters()
{
    showDialog();
    QTest::keyClicks(nameEdit(), "abcdefghijklmnopqrst");
    QTest::keyClicks(passwordEdit(), "123456789012");
    QCOMPARE(nameEdit()->text(), QStringLiteral("abcdefghijklmno"));
    QCOMPARE(passwordEdit()->text(), QStringLiteral("12345678"));
}

void LoginDialogTest::modalRunRefusesCloseUntilSignedIn()
{
    bool stayedOpen = false;
    int failures = 0;
    onNextModal([&](QDialog* dialog) {
        QCOMPARE(dialog, m_dialog);
        dialog->close();
        dialog->reject();
        QTest::keyClick(nameEdit(), Qt::Key_Escape);
        QCloseEvent systemClose;
        QApplication::sendEvent(dialog, &systemClose);
        stayedOpen = dialog->isVisible() && !systemClose.isAccepted();

        // Any number of failures; the next right pair still signs in.
        const QStringList names = {"", "nobody", "admin", "admin", "clerk", "admin"};
        const QStringList passwords = {"x", "secret", "", "secre", "secret", "SECRET"};
        for (qsizetype i = 0; i < names.size(); ++i) {
            m_ui->answer(MessageBox::Button::Ok);
            attempt(names[i], passwords[i]);
            failures += dialog->isVisible() ? 1 : 0;
        }
        attempt(QStringLiteral("admin"), QStringLiteral("secret"));
    });
    m_dialog->exec();

    QVERIFY(stayedOpen);
    QCOMPARE(failures, 6);
    QCOMPARE(m_ui->shown.size(), 6);
    QCOMPARE(m_dialog->LoginState(), 1);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(signedInName(), std::string("admin"));
    QVERIFY(!terminateRequested());
}

void LoginDialogTest::quitEndsModalRun()
{
    bool ran = false;
    onNextModal([&](QDialog*) {
        ran = true;
        // Quit works right after an error message too.
        m_ui->answer(MessageBox::Button::Ok);
        attempt(QStringLiteral("admin"), QStringLiteral("wrong"));
        QTest::mouseClick(button("btn_Quit"), Qt::LeftButton);
    });
    const int result = execAtMostTenSeconds(m_dialog);

    QVERIFY(ran);
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(terminateRequested());
    QCOMPARE(m_dialog->LoginState(), -1);
    QVERIFY(!m_dialog->isVisible());
}

QTEST_MAIN(LoginDialogTest)
#include "LoginDialogTest.moc"
