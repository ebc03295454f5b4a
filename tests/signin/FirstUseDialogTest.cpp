#include "app/SecurityManager.h"
#include "session/Session.h"
#include "signin/NewID_Form.h"
#include "signin/PassWords.h"
#include "tests/support/Controls.h"
#include "tests/support/Keyboard.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/SignedInMainForm.h"
#include "tests/support/TableFile.h"
#include "tests/support/TableSlots.h"
#include "tests/support/TempWorkDir.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <optional>
#include <string>

using Kind = MessageBox::Kind;

namespace {

const QString IdMessage = QStringLiteral("Please type in your new ID and Password.");
const QString PathMessage = QStringLiteral("Please give a correct path for your data files.");

// The slots of a table file.
TableSlots slotsOf(const QByteArray& bytes)
{
    return TableSlots(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

} // namespace

class FirstUseDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void layout();
    void shortenedPath_data();
    void shortenedPath();
    void enterRightAfterOpeningPressesDone();
    void blankEntries_data();
    void blankEntries();
    void pastedControlCharacter_data();
    void pastedControlCharacter();
    void placeholderPassword_data();
    void placeholderPassword();
    void unusablePath_data();
    void unusablePath();
    void pickerConfirmedAndCancelled();
    void doneStoresTrimmedUser();
    void newUserSignsInLater();
    void failedSaveLeavesNoUserBehind();
    void terminateNo();
    void terminateYesEndsModalRun();
    void modalRunRefusesCloseUntilDone();

private:
    QLineEdit* edit(const char* name) const { return control<QLineEdit>(m_dialog, name); }
    QPushButton* button(const char* name) const { return control<QPushButton>(m_dialog, name); }
    void showDialog() { QVERIFY(showActive(m_dialog)); }
    void fill(const QString& name, const QString& password)
    {
        typeText(edit("ELoginName"), name);
        typeText(edit("EPersonal_Code"), password);
    }
    void clickDone() { QTest::mouseClick(button("Done_Button"), Qt::LeftButton); }
    // Nothing of a failed Done may outlast it.
    void expectRefused(const QString& message)
    {
        QCOMPARE(m_ui->shown.size(), 1);
        QCOMPARE(m_ui->shown[0].kind, Kind::Error);
        QCOMPARE(m_ui->shown[0].text, message);
        QCOMPARE(m_ui->shown[0].buttons, MessageBox::Buttons::Ok);
        QVERIFY(m_dialog->isVisible());
        QVERIFY(!m_dialog->SetupDone());
        QVERIFY(!m_session->signedIn());
        QVERIFY(!m_dir->exists(QStringLiteral("Gatekeep.acl")));
        QVERIFY(m_dir->exists(QStringLiteral("~first.log")));
        QCOMPARE(firstFreeSlot(), 1);
    }

    int firstFreeSlot() const { return TableSlots::inMemory(*m_session).firstFree(); }

    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<Session> m_session;
    TNewID_Form* m_dialog = nullptr;
};

void FirstUseDialogTest::initTestCase()
{
    // A start with a table builds no first-use dialog at all.
    TempWorkDir startDir;
    auto main = adminMainWindowIn(startDir);
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(!main->manager().firstUseDialog());
}

void FirstUseDialogTest::cleanupTestCase() {}

void FirstUseDialogTest::init()
{
    // As at a first start: the marker, no table, nobody in memory.
    m_dir = std::make_unique<TempWorkDir>();
    m_dir->touch(QStringLiteral("~first.log"));
    m_ui = std::make_unique<ScriptedUi>();
    m_session = std::make_unique<Session>(Session::TableFileName);
    m_dialog = new TNewID_Form(*m_session, m_dir->path());
}

void FirstUseDialogTest::cleanup()
{
    QVERIFY2(m_ui->problems().isEmpty(), qPrintable(m_ui->problems()));
    delete m_dialog;
    m_dialog = nullptr;
    m_session.reset();
    m_ui.reset();
    m_dir.reset();
}

void FirstUseDialogTest::layout()
{
    QCOMPARE(button("DataPathButton")->toolTip(), QStringLiteral("Click here to browse..."));
    showDialog();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("New user"));
    QCOMPARE(m_dialog->size(), QSize(351, 221));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    const Qt::WindowFlags flags = m_dialog->windowFlags();
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));

    auto* memo = m_dialog->findChild<QPlainTextEdit*>(QStringLiteral("Info_Memo"));
    QCOMPARE(memo->geometry(), QRect(106, 16, 233, 91));
    const QStringList welcome = {
        "Welcome to Larkledger(tm)",
        "    KVS has detected that you are about",
        "to use Larkledger for the first time. ",
        "Please give your new account an USER",
        "NAME and a PASSWORD, you will need",
        "them in order to log in.",
        "     *PS. Codes are case sensitive.",
    };
    QCOMPARE(memo->toPlainText().split(QLatin1Char('\n')), welcome);
    QCOMPARE(memo->focusPolicy() & Qt::TabFocus, 0);

    auto* picture = m_dialog->findChild<QLabel*>(QStringLiteral("NewUser_Image"));
    QCOMPARE(picture->geometry(), QRect(8, 10, 89, 110));
    QCOMPARE(picture->pixmap().size(), QSize(89, 110));

    QCOMPARE(button("Done_Button")->geometry(), QRect(256, 125, 93, 45));
    QCOMPARE(button("Done_Button")->text(), QStringLiteral("Done"));
    QCOMPARE(button("Terminate_Button")->geometry(), QRect(256, 174, 93, 42));
    QCOMPARE(button("Terminate_Button")->text(), QStringLiteral("Terminate"));
    QCOMPARE(m_dialog->findChild<QLabel*>(QStringLiteral("LoginID_Panel"))->text(),
             QStringLiteral(" Login ID:"));
    QCOMPARE(m_dialog->findChild<QLabel*>(QStringLiteral("Password_Panel"))->text(),
             QStringLiteral(" Password:"));
    QCOMPARE(m_dialog->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Where would you like to save your file?"));
    QCOMPARE(edit("ELoginName")->maxLength(), 15);
    QCOMPARE(edit("EPersonal_Code")->maxLength(), 8);
    QCOMPARE(edit("EPersonal_Code")->echoMode(), QLineEdit::Normal);
    QCOMPARE(edit("ELoginName")->palette().color(QPalette::Base), QColor(231, 240, 191));
    QCOMPARE(button("DataPathButton")->focusPolicy(), Qt::NoFocus);

    // Shown: the working directory is the data path, Done has the focus.
    QCOMPARE(button("DataPathButton")->toolTip(), m_dir->path());
    QCOMPARE(button("DataPathButton")->text(), ::shortenedPath(m_dir->path()));
    QCOMPARE(m_dialog->focusWidget(), button("Done_Button"));
    QVERIFY(button("Done_Button")->isDefault());
}

void FirstUseDialogTest::shortenedPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");
    const QString thirty = QStringLiteral("/home/ledger/data/abcdefghijkl");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("30 characters") << thirty << thirty;
    QTest::newRow("31 characters") << thirty + "m" << thirty + "...";
    QTest::newRow("no separator touched") << thirty + "/" << thirty + "...";
    QTest::newRow("longer") << thirty + "/and/more/of/it" << thirty + "...";
}

void FirstUseDialogTest::shortenedPath()
{
    QFETCH(QString, path);
    QFETCH(QString, shown);
    QCOMPARE(::shortenedPath(path), shown);
}

void FirstUseDialogTest::enterRightAfterOpeningPressesDone()
{
    showDialog();
    m_ui->answer(MessageBox::Button::Ok);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    expectRefused(IdMessage);
}

void FirstUseDialogTest::blankEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::newRow("both empty") << ""
                                << "";
    QTest::newRow("both blanks") << "   "
                                 << "  ";
    QTest::newRow("no name") << ""
                             << "pw";
    QTest::newRow("blank name") << "  "
                                << "pw";
    QTest::newRow("no password") << "bob"
                                 << "";
    QTest::newRow("blank password") << "bob"
                                    << "   ";
}

void FirstUseDialogTest::blankEntries()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    showDialog();
    fill(name, password);
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    expectRefused(IdMessage);
    QCOMPARE(edit("ELoginName")->text(), name);
    QCOMPARE(edit("EPersonal_Code")->text(), password);
}

// Around the name and password the dialog drops them; inside, the session
// core refuses them, and the dialog shows its message.
void FirstUseDialogTest::pastedControlCharacter_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("message");
    const QString stored = QStringLiteral(": tabs, line breaks, escapes and other control "
                                          "characters cannot be stored.");
    QTest::newRow("ESC inside the name")
        << "ELoginName"
        << "\tbo\x1b[8mb\t"
        << "The login name holds a control character (U+001B at character 3)" + stored;
    QTest::newRow("TAB inside the password") << "EPersonal_Code"
                                             << "p\tw"
                                             << "The password holds a control character" + stored;
}

void FirstUseDialogTest::pastedControlCharacter()
{
    QFETCH(QString, box);
    QFETCH(QString, pasted);
    QFETCH(QString, message);
    showDialog();
    fill(QStringLiteral("bob"), QStringLiteral("pw"));
    QLineEdit* target = edit(box.toLatin1().constData());
    target->selectAll();
    QGuiApplication::clipboard()->setText(pasted);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(target->text(), pasted);
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    expectRefused(message);
}

// The first login ID holds every right: the placeholder password everyone
// who read the manual knows would hand them all out.
void FirstUseDialogTest::placeholderPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("whole") << "NewPassWord";
    QTest::newRow("as the table keeps it, other case") << "newpassw";
}

void FirstUseDialogTest::placeholderPassword()
{
    QFETCH(QString, password);
    showDialog();
    fill(QStringLiteral("bob"), password);
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    expectRefused(QStringLiteral("The NewPassWord is a reserved word, please try another one."));
}

void FirstUseDialogTest::unusablePath_data()
{
    QTest::addColumn<QString>("folder"); // made below the working directory, then chosen
    QTest::addColumn<bool>("removeAfterChoice");
    QTest::newRow("removed since chosen") << "data" << true;
    // Longer than a stored data path holds: it would be stored cut.
    QTest::newRow("256 characters") << "long:256" << false;
}

void FirstUseDialogTest::unusablePath()
{
    QFETCH(QString, folder);
    QFETCH(bool, removeAfterChoice);
    QString path = m_dir->path() + QLatin1Char('/') + folder;
    if (folder.startsWith(QLatin1String("long:"))) {
        const int length = folder.mid(5).toInt();
        path = m_dir->path() + QLatin1Char('/');
        path += QString(length - path.size(), QLatin1Char('x'));
    }
    QVERIFY(QDir().mkpath(path));

    showDialog();
    fill(QStringLiteral("bob"), QStringLiteral("pw"));
    m_ui->chooseFolder(path);
    QTest::mouseClick(button("DataPathButton"), Qt::LeftButton);
    QCOMPARE(button("DataPathButton")->toolTip(), path);
    if (removeAfterChoice)
        QVERIFY(QDir(path).removeRecursively());

    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    expectRefused(PathMessage);
}

void FirstUseDialogTest::pickerConfirmedAndCancelled()
{
    const QString chosen = m_dir->path() + QStringLiteral("/ledger data/accounts 2026");
    QVERIFY(QDir().mkpath(chosen));
    showDialog();

    m_ui->chooseFolder(chosen);
    QTest::mouseClick(button("DataPathButton"), Qt::LeftButton);
    QCOMPARE(button("DataPathButton")->toolTip(), chosen);
    QCOMPARE(button("DataPathButton")->text(), chosen.left(30) + QStringLiteral("..."));

    m_ui->chooseFolder(std::nullopt);
    QTest::mouseClick(button("DataPathButton"), Qt::LeftButton);
    QCOMPARE(button("DataPathButton")->toolTip(), chosen);
    QCOMPARE(button("DataPathButton")->text(), chosen.left(30) + QStringLiteral("..."));

    // Not a directory: as good as a cancel.
    m_dir->touch(QStringLiteral("plain-file"));
    m_ui->chooseFolder(m_dir->path() + QStringLiteral("/plain-file"));
    QTest::mouseClick(button("DataPathButton"), Qt::LeftButton);
    QCOMPARE(button("DataPathButton")->toolTip(), chosen);

    QCOMPARE(m_ui->folderCaptions, QStringList(3, QStringLiteral("Database Directory")));

    // The chosen folder is the stored data path; the table stays here.
    fill(QStringLiteral("bob"), QStringLiteral("pw"));
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    QCOMPARE(TableSlots::inMemory(*m_session).user(1)->dataPath, tableTextOf(chosen));
    QVERIFY(m_dir->exists(QStringLiteral("Gatekeep.acl")));
    QCOMPARE(QDir(chosen).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void FirstUseDialogTest::doneStoresTrimmedUser()
{
    showDialog();
    fill(QStringLiteral("  Bob Smith "), QStringLiteral(" pw 1  "));
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();

    QCOMPARE(m_ui->shown.size(), 1);
    QCOMPARE(m_ui->shown[0].kind, Kind::Confirmation);
    QCOMPARE(m_ui->shown[0].buttons, MessageBox::Buttons::Ok);
    QCOMPARE(m_ui->shown[0].text, QStringLiteral("Please write down your new ID and\npassword.\n"
                                                 "Login Name:   Bob Smith \n"
                                                 "Password     :  pw 1  "));
    QVERIFY(m_dialog->SetupDone());
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_session->signedIn());
    QVERIFY(m_session->mayEditRights() && m_session->mayKeepAccounts());
    QVERIFY(!m_dir->exists(QStringLiteral("~first.log")));
    QCOMPARE(m_session->me().loginName, std::string("Bob Smith"));

    const QByteArray file = m_dir->read();
    QCOMPARE(file.size(), qsizetype(TableSlots::FileSize));
    const TableSlots written = slotsOf(file);
    const std::optional<UserData> user = written.user(1);
    QVERIFY(user);
    QCOMPARE(user->loginName, std::string("Bob Smith"));
    QCOMPARE(user->password, std::string("pw 1"));
    QCOMPARE(user->dataPath, tableTextOf(m_dir->path()));
    QCOMPARE(written.rightFlags(1), std::string("000000"));
    // Nothing else in the record: no account, not even a description.
    TableSlots expected;
    expected.setUser(1, "Bob Smith", "pw 1", tableTextOf(m_dir->path()), "000000");
    QCOMPARE(file.left(TableSlots::RecordSize),
             QByteArray::fromStdString(expected.bytes()).left(TableSlots::RecordSize));
    for (int n = 2; n <= TableSlots::Count; ++n)
        QVERIFY(written.isFree(n));
    // What was written is what the table now holds.
    QCOMPARE(QByteArray::fromStdString(TableSlots::inMemory(*m_session).bytes())
                 .left(TableSlots::RecordSize),
             file.left(TableSlots::RecordSize));
}

void FirstUseDialogTest::newUserSignsInLater()
{
    showDialog();
    fill(QStringLiteral(" carol"), QStringLiteral(" Key42 "));
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    QVERIFY(m_dialog->SetupDone());

    // The next start loads the file and signs in with the trimmed texts.
    Session next(Session::TableFileName);
    next.loadTable();
    TPassWords login(next);
    login.show();
    auto* name = login.findChild<QLineEdit*>(QStringLiteral("ELoginName"));
    auto* password = login.findChild<QLineEdit*>(QStringLiteral("EPersonal_Code"));
    auto* ok = login.findChild<QPushButton*>(QStringLiteral("Btn_OK"));

    typeText(name, QStringLiteral("carol"));
    typeText(password, QStringLiteral(" Key42 "));
    m_ui->answer(MessageBox::Button::Ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(m_ui->shown.last().text, QStringLiteral("Incorrect Password!"));

    typeText(password, QStringLiteral("Key42"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(login.LoginState(), 1);
    QCOMPARE(m_ui->shown.size(), 2);
}

void FirstUseDialogTest::failedSaveLeavesNoUserBehind()
{
    // A directory where the table file belongs makes the save fail.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Gatekeep.acl")));
    showDialog();
    fill(QStringLiteral("bob"), QStringLiteral("pw"));
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();

    QCOMPARE(m_ui->shown.size(), 1);
    QCOMPARE(m_ui->shown[0].kind, Kind::Error);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(!m_session->signedIn());
    QVERIFY(m_dir->exists(QStringLiteral("~first.log")));
    QCOMPARE(firstFreeSlot(), 1);

    // Done again once the file can be written: one user, not two.
    QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("Gatekeep.acl")));
    m_ui->answer(MessageBox::Button::Ok);
    clickDone();
    QVERIFY(m_dialog->SetupDone());
    QCOMPARE(firstFreeSlot(), 2);
    const QByteArray file = m_dir->read();
    QCOMPARE(file.size(), qsizetype(TableSlots::FileSize));
    QVERIFY(slotsOf(file).isFree(2));
}

void FirstUseDialogTest::terminateNo()
{
    showDialog();
    m_ui->answer(MessageBox::Button::No);
    QTest::mouseClick(button("Terminate_Button"), Qt::LeftButton);

    QCOMPARE(m_ui->shown.size(), 1);
    QCOMPARE(m_ui->shown[0].kind, Kind::Confirmation);
    QCOMPARE(m_ui->shown[0].buttons, MessageBox::Buttons::YesNo);
    QCOMPARE(m_ui->shown[0].text,
             QStringLiteral("The Larkledger Security Manager will ask you again for the NEW "
                            "ID.\nAre you sure to quit Larkledger?"));
    QVERIFY(!terminateRequested());
    QVERIFY(m_dialog->isVisible());
}

void FirstUseDialogTest::terminateYesEndsModalRun()
{
    bool ran = false;
    onNextModal([&](QDialog*) {
        ran = true;
        fill(QStringLiteral("bob"), QStringLiteral("pw"));
        m_ui->answer(MessageBox::Button::Yes);
        QTest::mouseClick(button("Terminate_Button"), Qt::LeftButton);
    });
    const int result = execAtMostTenSeconds(m_dialog);

    QVERIFY(ran);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(m_ui->shown.size(), 1);
    QVERIFY(terminateRequested());
    QVERIFY(!m_dialog->SetupDone());
    QVERIFY(!m_session->signedIn());
    QVERIFY(!m_dir->exists(QStringLiteral("Gatekeep.acl")));
    QVERIFY(m_dir->exists(QStringLiteral("~first.log")));
    QCOMPARE(firstFreeSlot(), 1);
}

void FirstUseDialogTest::modalRunRefusesCloseUntilDone()
{
    bool stayedOpen = false;
    onNextModal([&](QDialog* dialog) {
        // A key goes to the focus widget, which exists only once the dialog
        // is active; on a slow machine that comes after it is shown.
        if (!QTest::qWaitForWindowActive(dialog)) {
            QTest::qFail("the first-use dialog never became active", __FILE__, __LINE__);
            dialog->done(QDialog::Rejected);
            return;
        }
        dialog->close();
        dialog->reject();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCloseEvent systemClose;
        QApplication::sendEvent(dialog, &systemClose);
        stayedOpen = dialog->isVisible() && !systemClose.isAccepted();

        fill(QStringLiteral("admin"), QStringLiteral("secret"));
        m_ui->answer(MessageBox::Button::Ok);
        clickDone();
    });
    m_dialog->exec();

    QVERIFY(stayedOpen);
    QVERIFY(m_dialog->SetupDone());
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_session->signedIn());
    QVERIFY(!terminateRequested());
}

QTEST_MAIN(FirstUseDialogTest)
#include "FirstUseDialogTest.moc"
