// The windows and the table file when someone else has it too: a change on
// disk is never overwritten unasked, another running copy is named at start,
// and the end of the desktop session asks as Exit does.
#include "app/SecurityManager.h"
#include "session/Session.h"
#include "store/FileOps.h"
#include "store/Scramble.h"
#include "store/TableLock.h"
#include "support/MainWindowFixture.h"
#include "support/ThreeUsers.h"

#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSessionManager>
#include <QTabWidget>
#include <QTest>

#include <csignal>
#include <ctime>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using Button = MessageBox::Button;
Q_DECLARE_METATYPE(MessageBox::Button)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

QString changedOnDisk(const QString& what, const QString& theirChange)
{
    return QStringLiteral("Warning YesNoCancel: Someone else has changed %1 in Gatekeep.acl since "
                          "this program last read it.\nTheir change: %2.\n\n"
                          "Yes: keep their version; this change is dropped.\n"
                          "No: write this change over theirs, for %1 only.\n"
                          "Cancel: write nothing.")
        .arg(what, theirChange);
}

const QString BroughtUpToDate =
    QStringLiteral("Warning Ok: Gatekeep.acl had been changed by someone else meanwhile: it was "
                   "brought up to date first, and the change was made on it.");

AccountData account(const char* name, int entry = -1)
{
    AccountData account;
    account.name = name;
    account.entry = entry;
    return account;
}

// Another copy of the program, signed in as admin, adds an account for clerk,
// or makes another change of its own.
QByteArray changeElsewhere(const std::function<ChangeResult(Session&)>& change = {},
                           const SystemUser& who = {})
{
    Session other(Session::TableFileName);
    other.setSystemUser(who);
    other.loadTable();
    other.signIn("admin", "secret");
    const ChangeResult result =
        change ? change(other) : other.addAccount("clerk", account("Theirs"));
    if (!result.done())
        qFatal("the other copy's change failed");
    return tableBytes(TableSlots::inMemory(other));
}

// A process that holds the table's lock until killed: a copy of the program,
// or, given `planted`, anyone who may write in the table's folder, who wrote
// that as the lock file and holds a record lock on it. -1 when it did not get
// the lock.
pid_t lockHolder(const std::optional<QByteArray>& planted)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        bool held = false;
        TableLock lock(Session::TableFileName);
        if (!planted) {
            held = lock.tryLock() == TableLock::State::Acquired;
        } else {
            const int fd = ::open(".Gatekeep.acl.lock", O_RDWR | O_CREAT | O_TRUNC, 0644);
            struct flock record
            {
            };
            record.l_type = F_WRLCK;
            record.l_whence = SEEK_SET;
            held = fd >= 0 &&
                   ::write(fd, planted->constData(), size_t(planted->size())) == planted->size() &&
                   ::fcntl(fd, F_SETLK, &record) == 0;
        }
        const char state = held ? 'y' : 'n';
        if (::write(ready[1], &state, 1) != 1)
            ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char state = 0;
    const bool told = ::read(ready[0], &state, 1) == 1;
    ::close(ready[0]);
    if (!told || state != 'y') {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return -1;
    }
    return child;
}

UserData newUser()
{
    UserData plain;
    plain.loginName = "newbie";
    plain.password = "pw";
    plain.dataPath = "/srv/new";
    return plain;
}

} // namespace

class SharedTableTest : public QObject, public MainWindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void anAccountChangeLandsOnTheFilesTable();
    void theSameAccountChangedElsewhereIsAskedAbout_data();
    void theSameAccountChangedElsewhereIsAskedAbout();
    void theQuestionNamesWhoSavedLast();
    void theCloseAsksOnlyAboutAUserChangedOnBothSides();
    void rightsTakenElsewhereAreFollowedAtTheNextChange();
    void anotherRunningCopyIsNamedBeforeTheLogin_data();
    void anotherRunningCopyIsNamedBeforeTheLogin();
    void logoutAsksAsExitDoes_data();
    void logoutAsksAsExitDoes();
    void aLogoutThatMayNotAskWritesNothingOverOthers();
    void theProgramListensForTheLogout();

private:
    void clickLine(QListWidget* list, const QString& text)
    {
        const QList<QListWidgetItem*> items = list->findItems(text, Qt::MatchExactly);
        QVERIFY2(items.size() == 1, qPrintable(text));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.first()).center());
    }
    QListWidget* accounts() const { return find<QListWidget>("AccoTypeListBox"); }
};

void SharedTableTest::anAccountChangeLandsOnTheFilesTable()
{
    signIn();
    changeElsewhere();
    find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    clickLine(users(), QStringLiteral("admin"));
    clickLine(accounts(), QStringLiteral("Checking"));
    m_scripted->answer(Button::Yes); // delete the account
    m_scripted->answer(Button::Ok);  // brought up to date
    QTest::mouseClick(find<QPushButton>("DelAccoBtn"), Qt::LeftButton);

    QCOMPARE(boxes(), (QStringList{"Confirmation YesNo: Are you sure you want to delete your \n"
                                   "CHECKING account ?",
                                   BroughtUpToDate}));
    const QStringList file{QStringLiteral("admin|secret|C:\\Larkledger\\Data|000000|2:Savings="),
                           ClerkLine + QStringLiteral("|0:Theirs="), ReneeLine, "-", "-"};
    QCOMPARE(decodeTable(m_dir->read()), file);
    QCOMPARE(memoryTable(), file);
    QCOMPARE(listLines(accounts()), QStringList{"Savings"});
}

void SharedTableTest::theSameAccountChangedElsewhereIsAskedAbout_data()
{
    QTest::addColumn<Button>("answer");
    QTest::addColumn<QStringList>("file");       // decoded, after the answer
    QTest::addColumn<QStringList>("shownAfter"); // admin's accounts on the page

    // They changed the description only: a renamed account would be
    // another one, gone for this window.
    const QString theirAdmin =
        QStringLiteral("admin|secret|C:\\Larkledger\\Data|000000|0:Checking=|2:Savings=");
    const QString adminWithoutChecking =
        QStringLiteral("admin|secret|C:\\Larkledger\\Data|000000|2:Savings=");
    QTest::newRow("Yes: their version")
        << Button::Yes << QStringList{theirAdmin, ClerkLine, ReneeLine, "-", "-"}
        << QStringList{"Checking", "Savings"};
    QTest::newRow("No: over theirs")
        << Button::No << QStringList{adminWithoutChecking, ClerkLine, ReneeLine, "-", "-"}
        << QStringList{"Savings"};
    QTest::newRow("Cancel: write nothing")
        << Button::Cancel << QStringList{theirAdmin, ClerkLine, ReneeLine, "-", "-"}
        << QStringList{"Checking", "Savings"};
}

void SharedTableTest::theSameAccountChangedElsewhereIsAskedAbout()
{
    QFETCH(Button, answer);
    QFETCH(QStringList, file);
    QFETCH(QStringList, shownAfter);

    signIn();
    const QByteArray theirs = changeElsewhere(
        [](Session& other) { return other.modifyAccount("admin", account("Checking", 0)); });

    find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    clickLine(users(), QStringLiteral("admin"));
    clickLine(accounts(), QStringLiteral("Checking"));
    m_scripted->answer(Button::Yes); // delete the account
    m_scripted->answer(answer);
    QTest::mouseClick(find<QPushButton>("DelAccoBtn"), Qt::LeftButton);

    QCOMPARE(boxes(),
             (QStringList{"Confirmation YesNo: Are you sure you want to delete your \n"
                          "CHECKING account ?",
                          changedOnDisk("the bank account Checking of admin", "description")}));
    QCOMPARE(decodeTable(m_dir->read()), file);
    QCOMPARE(listLines(accounts()), shownAfter);
    // What the window works with is what the file holds, but after Cancel.
    if (answer == Button::Cancel)
        QCOMPARE(memoryTable(), decodeTable(m_fixture));
    else
        QCOMPARE(memoryTable(), file);
}

// The other copy's save left its writer in the lock file: the question
// names them, and when.
void SharedTableTest::theQuestionNamesWhoSavedLast()
{
    signIn();
    const std::time_t before = std::time(nullptr);
    changeElsewhere(
        [](Session& other) { return other.modifyAccount("admin", account("Checking", 0)); },
        SystemUser{"ann", 1001});
    const std::time_t after = std::time(nullptr);

    find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    clickLine(users(), QStringLiteral("admin"));
    clickLine(accounts(), QStringLiteral("Checking"));
    m_scripted->answer(Button::Yes); // delete the account
    m_scripted->answer(Button::Cancel);
    QTest::mouseClick(find<QPushButton>("DelAccoBtn"), Qt::LeftButton);

    const QStringList shown = boxes();
    QCOMPARE(shown.size(), 2);
    const auto asked = [](std::time_t when) {
        std::tm local{};
        char minute[32] = {};
        ::localtime_r(&when, &local);
        std::strftime(minute, sizeof minute, "%Y-%m-%d %H:%M", &local);
        return QStringLiteral(
                   "Warning YesNoCancel: Someone else has changed the bank account Checking of "
                   "admin in Gatekeep.acl since this program last read it.\n"
                   "Their change: description.\n"
                   "Last saved by ann (uid 1001, signed in as admin) on %1 at %2.\n\n"
                   "Yes: keep their version; this change is dropped.\n"
                   "No: write this change over theirs, for the bank account Checking of admin "
                   "only.\nCancel: write nothing.")
            .arg(QString::fromStdString(fileops::hostTag()), QString::fromLatin1(minute));
    };
    if (shown.at(1) != asked(before))
        QCOMPARE(shown.at(1), asked(after));
}

void SharedTableTest::theCloseAsksOnlyAboutAUserChangedOnBothSides()
{
    signIn();
    QVERIFY(session().addUser(newUser()).done());
    QVERIFY(session().deleteUser("clerk").done());
    const QByteArray theirs = changeElsewhere();

    m_scripted->answer(Button::Yes);    // save the changes?
    m_scripted->answer(Button::Cancel); // clerk changed on both sides
    m_window->get()->close();
    QCOMPARE(boxes(), (QStringList{"Confirmation YesNoCancel: Do you want to save the changes?",
                                   changedOnDisk("the user clerk", "bank accounts")}));
    QVERIFY(m_window->get()->isVisible());
    QCOMPARE(m_dir->read(), theirs);
    QVERIFY(tableChanged());

    // Writing over their change is a choice the person makes.
    m_scripted->answer(Button::Yes);
    m_scripted->answer(Button::No);
    m_window->get()->close();
    QVERIFY(!m_window->get()->isVisible());
    QCOMPARE(decodeTable(m_dir->read()),
             (QStringList{AdminLine, ReneeLine, "newbie|pw|/srv/new|111111", "-", "-"}));
}

void SharedTableTest::rightsTakenElsewhereAreFollowedAtTheNextChange()
{
    signIn();
    auto* pages = find<QTabWidget>("UserPages");
    QCOMPARE(pages->count(), 3);
    const QString bankTitle = pages->tabText(2);
    // Another copy takes admin's user rights but ModifyUsers.
    changeElsewhere([](Session& other) {
        UserData plain;
        plain.loginName = "admin";
        plain.password = "secret";
        plain.dataPath = "C:\\Larkledger\\Data";
        plain.rights = Rights{Right::ModifyUsers};
        return other.saveChanges(other.loadForEditing("admin"), plain);
    });
    const QByteArray revoked = m_dir->read();

    pages->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    clickLine(users(), QStringLiteral("admin"));
    clickLine(accounts(), QStringLiteral("Checking"));
    m_scripted->answer(Button::Yes); // delete the account
    m_scripted->answer(Button::Ok);  // refused
    QTest::mouseClick(find<QPushButton>("DelAccoBtn"), Qt::LeftButton);
    QCOMPARE(boxes().last(), QStringLiteral("Error Ok: You may not change bank accounts: that "
                                            "needs the DeleteUsers right."));
    QCOMPARE(m_dir->read(), revoked);
    // The window follows: no Bank Account sheet, no Add or Delete.
    QCOMPARE(pages->count(), 2);
    QVERIFY(!find<QPushButton>("AddButton")->isEnabled());
    QVERIFY(!find<QPushButton>("DeleteButton")->isEnabled());
    QVERIFY(find<QPushButton>("ModifyButton")->isEnabled());

    // Given back (another administrator's copy puts the table back), the
    // sheet returns to its place at the next change.
    m_dir->write(m_fixture);
    clickLine(users(), QStringLiteral("clerk"));
    QTest::mouseClick(find<QPushButton>("ModifyButton"), Qt::LeftButton);
    find<QLineEdit>("PPEdit")->setText(QStringLiteral("newpw"));
    m_scripted->answer(Button::Yes); // save the changes?
    QTest::mouseClick(find<QPushButton>("SaveChangeButton"), Qt::LeftButton);
    QCOMPARE(decodeTable(m_dir->read()).at(2), QStringLiteral("clerk|newpw|/srv/ledger|111011"));
    QVERIFY(find<QPushButton>("AddButton")->isEnabled());
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->widget(2)->objectName(), QStringLiteral("UserBankAccountInfoSheet"));
    QCOMPARE(pages->tabText(2), bankTitle);
}

void SharedTableTest::anotherRunningCopyIsNamedBeforeTheLogin_data()
{
    // No lock file: the other process is a copy of the program.
    QTest::addColumn<std::optional<QByteArray>>("lockFile");
    // How the message names the holder of a planted lock file.
    QTest::addColumn<QString>("holder");
    QTest::newRow("a copy of the program") << std::optional<QByteArray>() << QString();
    QTest::newRow("markup from another host")
        << std::optional<QByteArray>(
               "4242\nlarkledger-security\n<h1 style=\"color:red\">Table damaged: run rm -rf "
               "~</h1>\n")
        << QStringLiteral(" (process 4242 on <h1 style=\"color:red\">Table damaged: run rm -rf "
                          "~</h1>)");
    QTest::newRow("placeholders and control characters")
        << std::optional<QByteArray>("77\nlarkledger-security\n%2 %1\tfar\x1b[0m\n")
        << QStringLiteral(" (process 77 on %2 %1?far?[0m)");
    QTest::newRow("nothing readable") << std::optional<QByteArray>("") << QString();
}

void SharedTableTest::anotherRunningCopyIsNamedBeforeTheLogin()
{
    QFETCH(std::optional<QByteArray>, lockFile);
    QFETCH(QString, holder);

    const pid_t other = lockHolder(lockFile);
    QVERIFY(other > 0);
    if (!lockFile)
        holder = QStringLiteral(" (process %1 on %2)")
                     .arg(QString::number(other), QSysInfo::machineHostName());

    // The warning comes in a real message box, whose text must stay text.
    m_scripted.reset();
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    onNextModal([&](QDialog* dialog) {
        signInWith(QStringLiteral("admin"), QStringLiteral("secret"));
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (!box)
            return; // the login dialog: no warning came
        title = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        icon = box->icon();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    auto manager = std::make_unique<SecurityManager>(QDir::currentPath());
    manager->start();
    m_scripted = std::make_unique<ScriptedUi>();
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    QVERIFY(manager->session().signedIn());
    manager.reset();

    QCOMPARE(title, QStringLiteral("Warning"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(text, QStringLiteral("Another copy of the Security Manager") + holder +
                       QStringLiteral(" has Gatekeep.acl open.\nYou can go on: saves take turns, "
                                      "each change is made on the file as the other copy left "
                                      "it, and you are asked only when both change the same user "
                                      "or bank account."));
    QCOMPARE(format, Qt::PlainText);

    // Once that process is gone, its lock is taken over without a word,
    // whatever the file says.
    signIn();
    QVERIFY(boxes().isEmpty());
}

void SharedTableTest::logoutAsksAsExitDoes_data()
{
    QTest::addColumn<bool>("mayAsk");
    QTest::addColumn<Button>("answer");
    QTest::addColumn<bool>("logoutGoesOn");
    QTest::addColumn<bool>("saved");
    QTest::newRow("Yes: saved") << true << Button::Yes << true << true;
    QTest::newRow("No: not saved") << true << Button::No << true << false;
    QTest::newRow("Cancel: the logout stops") << true << Button::Cancel << false << false;
    // Nobody to ask: saved, as each change was asked for and shown done.
    QTest::newRow("no asking allowed: saved") << false << Button::Ok << true << true;
}

void SharedTableTest::logoutAsksAsExitDoes()
{
    QFETCH(bool, mayAsk);
    QFETCH(Button, answer);
    QFETCH(bool, logoutGoesOn);
    QFETCH(bool, saved);

    signIn();
    // Nothing to save: nothing to ask.
    QVERIFY(m_window->manager().logoutQuery(true));
    QVERIFY(boxes().isEmpty());

    QVERIFY(session().addUser(newUser()).done());
    if (mayAsk)
        m_scripted->answer(answer);
    QCOMPARE(m_window->manager().logoutQuery(mayAsk), logoutGoesOn);
    QCOMPARE(boxes().size(), mayAsk ? 1 : 0);
    if (saved)
        QCOMPARE(decodeTable(m_dir->read()).at(3), QStringLiteral("newbie|pw|/srv/new|111111"));
    else
        QCOMPARE(m_dir->read(), m_fixture);
}

// With nobody to ask, a deletion of a user someone else changed meanwhile is
// neither written over their change nor dropped: nothing is written, the
// window keeps it, and the desktop is asked to stay.
void SharedTableTest::aLogoutThatMayNotAskWritesNothingOverOthers()
{
    signIn();
    QVERIFY(session().addUser(newUser()).done());
    QVERIFY(session().deleteUser("clerk").done());
    const QByteArray theirs = changeElsewhere();

    QVERIFY(!m_window->manager().logoutQuery(false));
    QVERIFY(boxes().isEmpty());
    QCOMPARE(m_dir->read(), theirs);
    QVERIFY(tableChanged());
    QCOMPARE(m_window->get()->findChild<QListWidget*>(QStringLiteral("UserNames"))->count(), 3);

    // The questions come back once someone may be asked: the close asks
    // about clerk as before.
    m_scripted->answer(Button::Yes);
    m_scripted->answer(Button::No);
    QVERIFY(m_window->manager().logoutQuery(true));
    QCOMPARE(boxes(), (QStringList{"Confirmation YesNoCancel: Do you want to save the changes?",
                                   changedOnDisk("the user clerk", "bank accounts")}));
    QCOMPARE(decodeTable(m_dir->read()),
             (QStringList{AdminLine, ReneeLine, "newbie|pw|/srv/new|111111", "-", "-"}));
}

// The desktop's request reaches the window from the moment it exists: a
// logout ending the program before it asked would drop the changes unseen.
void SharedTableTest::theProgramListensForTheLogout()
{
    signIn();
    // The one public way to tell: breaking the window's connection.
    QVERIFY(QObject::disconnect(qApp, SIGNAL(commitDataRequest(QSessionManager&)), m_window->get(),
                                nullptr));
}

QTEST_MAIN(SharedTableTest)
#include "SharedTableTest.moc"
