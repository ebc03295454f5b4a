// The windows and the table file when someone else has it too: a change on
// disk is never overwritten unasked, another running copy is named at start,
// and the end of the desktop session asks as Exit does.
#include "app/SecurityManager.h"
#include "session/Session.h"
#include "store/Scramble.h"
#include "store/TableLock.h"
#include "support/MainWindowFixture.h"
#include "support/ThreeUsers.h"

#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

using Button = MessageBox::Button;
Q_DECLARE_METATYPE(MessageBox::Button)

namespace {

const QString ChangedOnDisk = QStringLiteral(
    "Warning YesNoCancel: Gatekeep.acl has been changed on disk since this program last read or "
    "wrote it, by another copy of the program or another program.\n\n"
    "Yes: take the file's version; this change is dropped.\n"
    "No: overwrite the file with this version.\n"
    "Cancel: write nothing.");

AccountEntry Account(const char* name)
{
    AccountEntry entry{};
    entry.AccountName.assign(name);
    return entry;
}

// Another copy of the program, signed in as admin, adds an account for clerk.
QByteArray ChangeElsewhere()
{
    Session other(UserTableFileName);
    other.LoadTable();
    other.SignIn("admin", "secret");
    if (!other.AddAccount("clerk", Account("Theirs")).done())
        qFatal("the other copy's change failed");
    return QByteArray::fromStdString(other.Table().Bytes());
}

UserRecord NewUser()
{
    UserRecord plain = BlankUser;
    plain.LoginName.assign("newbie");
    plain.Password.assign("pw");
    plain.DataPath.assign("/srv/new");
    return plain;
}

} // namespace

class SharedTableTest : public QObject, public MainWindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void anAccountChangeAsksWhenTheFileChanged_data();
    void anAccountChangeAsksWhenTheFileChanged();
    void theCloseAsksWhenTheFileChanged();
    void anotherRunningCopyIsNamedBeforeTheLogin();
    void logoutAsksAsExitDoes_data();
    void logoutAsksAsExitDoes();

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

void SharedTableTest::anAccountChangeAsksWhenTheFileChanged_data()
{
    QTest::addColumn<Button>("answer");
    QTest::addColumn<QStringList>("file");       // decoded, after the answer
    QTest::addColumn<QStringList>("shownAfter"); // admin's accounts on the page

    const QString theirClerk = ClerkLine + QStringLiteral("|0:Theirs=");
    const QString adminWithoutChecking =
        QStringLiteral("admin|secret|C:\\Larkledger\\Data|000000|2:Savings=");
    QTest::newRow("Yes: the file's version")
        << Button::Yes << QStringList{AdminLine, theirClerk, ReneeLine, "-", "-"}
        << QStringList{"Checking", "Savings"};
    QTest::newRow("No: overwrite it")
        << Button::No << QStringList{adminWithoutChecking, ClerkLine, ReneeLine, "-", "-"}
        << QStringList{"Savings"};
    QTest::newRow("Cancel: write nothing")
        << Button::Cancel << QStringList{AdminLine, theirClerk, ReneeLine, "-", "-"}
        << QStringList{"Checking", "Savings"};
}

void SharedTableTest::anAccountChangeAsksWhenTheFileChanged()
{
    QFETCH(Button, answer);
    QFETCH(QStringList, file);
    QFETCH(QStringList, shownAfter);

    signIn();
    const QByteArray theirs = ChangeElsewhere();
    QCOMPARE(QByteArray(dir->read()), theirs);

    find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    clickLine(users(), QStringLiteral("admin"));
    clickLine(accounts(), QStringLiteral("Checking"));
    scripted->answer(Button::Yes); // delete the account
    scripted->answer(answer);
    QTest::mouseClick(find<QPushButton>("DelAccoBtn"), Qt::LeftButton);

    QCOMPARE(boxes(), (QStringList{"Confirmation YesNo: Are you sure you want to delete your \n"
                                   "CHECKING account ?",
                                   ChangedOnDisk}));
    QCOMPARE(DecodeTable(dir->read()), file);
    QCOMPARE(ListLines(accounts()), shownAfter);
    // What the window works with is what the file holds, but after Cancel.
    if (answer == Button::Cancel)
        QCOMPARE(memoryTable(), DecodeTable(fixture));
    else
        QCOMPARE(memoryTable(), file);
}

void SharedTableTest::theCloseAsksWhenTheFileChanged()
{
    signIn();
    QVERIFY(session().AddUser(NewUser()).done());
    const QByteArray theirs = ChangeElsewhere();

    scripted->answer(Button::Yes);    // save the changes?
    scripted->answer(Button::Cancel); // changed on disk
    window->get()->close();
    QCOMPARE(boxes(), (QStringList{"Confirmation YesNoCancel: Do you want to save the changes?",
                                   ChangedOnDisk}));
    QVERIFY(window->get()->isVisible());
    QCOMPARE(dir->read(), theirs);
    QVERIFY(tableChanged());

    // Overwriting is a choice the person makes.
    scripted->answer(Button::Yes);
    scripted->answer(Button::No);
    window->get()->close();
    QVERIFY(!window->get()->isVisible());
    QCOMPARE(DecodeTable(dir->read()),
             (QStringList{AdminLine, ClerkLine, ReneeLine, "newbie|pw|/srv/new|111111", "-"}));
}

void SharedTableTest::anotherRunningCopyIsNamedBeforeTheLogin()
{
    // The other copy: a process that holds the table's lock until told to go.
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t other = ::fork();
    QVERIFY(other >= 0);
    if (other == 0) {
        TableLock lock(UserTableFileName);
        const char state = lock.tryLock() == TableLock::State::Acquired ? 'y' : 'n';
        if (::write(ready[1], &state, 1) != 1)
            ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char state = 0;
    QCOMPARE(::read(ready[0], &state, 1), ssize_t(1));
    ::close(ready[0]);
    QCOMPARE(state, 'y');

    scripted->answer(Button::Ok);
    signIn();
    ::kill(other, SIGTERM);
    ::waitpid(other, nullptr, 0);

    QCOMPARE(boxes().size(), 1);
    QCOMPARE(boxes().first(),
             QStringLiteral("Warning Ok: Another copy of the Security Manager (process %1 on %2) "
                            "has Gatekeep.acl open.\nYou can go on: before every save, this copy "
                            "checks whether the file has changed since it was read, and asks what "
                            "to do if it has.")
                 .arg(other)
                 .arg(QSysInfo::machineHostName()));

    // Once that copy is gone, its lock is taken over without a word.
    signIn();
    QCOMPARE(boxes().size(), 1);
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
    QTest::newRow("no asking allowed") << false << Button::Ok << true << false;
}

void SharedTableTest::logoutAsksAsExitDoes()
{
    QFETCH(bool, mayAsk);
    QFETCH(Button, answer);
    QFETCH(bool, logoutGoesOn);
    QFETCH(bool, saved);

    signIn();
    // Nothing to save: nothing to ask.
    QVERIFY(window->manager().LogoutQuery(true));
    QVERIFY(boxes().isEmpty());

    QVERIFY(session().AddUser(NewUser()).done());
    if (mayAsk)
        scripted->answer(answer);
    QCOMPARE(window->manager().LogoutQuery(mayAsk), logoutGoesOn);
    QCOMPARE(boxes().size(), mayAsk ? 1 : 0);
    if (saved)
        QCOMPARE(DecodeTable(dir->read()).at(3), QStringLiteral("newbie|pw|/srv/new|111111"));
    else
        QCOMPARE(dir->read(), fixture);
}

QTEST_MAIN(SharedTableTest)
#include "SharedTableTest.moc"
