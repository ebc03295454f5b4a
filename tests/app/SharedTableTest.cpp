// The windows and the table file when someone else has it too: a change on
// disk is never overwritten unasked, another running copy is named at start,
// and the end of the desktop session asks as Exit does.
#include "app/SecurityManager.h"
#include "session/Session.h"
#include "store/Scramble.h"
#include "store/TableLock.h"
#include "support/MainWindowFixture.h"
#include "support/ThreeUsers.h"

#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <csignal>
#include <optional>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using Button = MessageBox::Button;
Q_DECLARE_METATYPE(MessageBox::Button)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

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

// A process that holds the table's lock until killed: a copy of the program,
// or, given `planted`, anyone who may write in the table's folder, who wrote
// that as the lock file and holds a record lock on it. -1 when it did not get
// the lock.
pid_t LockHolder(const std::optional<QByteArray>& planted)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        bool held = false;
        TableLock lock(UserTableFileName);
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
    void anotherRunningCopyIsNamedBeforeTheLogin_data();
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

    const pid_t other = LockHolder(lockFile);
    QVERIFY(other > 0);
    if (!lockFile)
        holder = QStringLiteral(" (process %1 on %2)")
                     .arg(QString::number(other), QSysInfo::machineHostName());

    // The warning comes in a real message box, whose text must stay text.
    scripted.reset();
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    OnNextModal([&](QDialog* dialog) {
        SignInWith(QStringLiteral("admin"), QStringLiteral("secret"));
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
    scripted = std::make_unique<ScriptedUi>();
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    QVERIFY(manager->session().SignedIn());
    manager.reset();

    QCOMPARE(title, QStringLiteral("Warning"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(text, QStringLiteral("Another copy of the Security Manager") + holder +
                       QStringLiteral(" has Gatekeep.acl open.\nYou can go on: before every "
                                      "save, this copy checks whether the file has changed since "
                                      "it was read, and asks what to do if it has."));
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
