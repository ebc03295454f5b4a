// An open window shows what others save as it lands: the file system's
// notifications, or the periodic look where they do not come, bring the
// file's table in, with the window's own waiting changes made again on it.
#include "admin/TableWatcher.h"
#include "app/SecurityManager.h"
#include "session/Session.h"
#include "support/MainWindowFixture.h"
#include "support/ThreeUsers.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

using Button = MessageBox::Button;

namespace {

// Long enough for a loaded machine, far below the looks' default interval
// where only the notifications should have brought it.
constexpr int Within = 2500;

// Another program on the same table, in a process of its own: signed in as
// `name`, it makes `change` and saves it.
bool inAnotherProcess(const std::function<ChangeResult(Session&)>& change,
                      const char* name = "admin", const char* password = "secret")
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        int status = 1;
        try {
            Session other(Session::TableFileName);
            other.loadTable();
            if (other.signIn(name, password) == Session::SignInResult::SignedIn &&
                change(other).done() && (!other.TableChanged() || other.save().done()))
                status = 0;
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

UserData plain(const char* name, const char* password, Rights rights = {})
{
    UserData user;
    user.loginName = name;
    user.password = password;
    user.dataPath = "/srv/new";
    user.rights = rights;
    return user;
}

} // namespace

class OthersChangesTest : public QObject, public MainWindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void othersSavesAreShownAsTheyLand_data();
    void othersSavesAreShownAsTheyLand();
    void aWaitingDeletionOutlivesTheirSave();
    void aRightTakenElsewhereTakesItsSheetAway();
    void aSignInDeletedElsewhereSignsTheWindowOut();

private:
    TableWatcher& watcher() const { return *m_window->manager().tableWatcher(); }
    void clickLine(const QString& text)
    {
        const QList<QListWidgetItem*> items = users()->findItems(text, Qt::MatchExactly);
        QVERIFY2(items.size() == 1, qPrintable(text));
        QTest::mouseClick(users()->viewport(), Qt::LeftButton, {},
                          users()->visualItemRect(items.first()).center());
    }
};

void OthersChangesTest::othersSavesAreShownAsTheyLand_data()
{
    QTest::addColumn<bool>("notifications");
    QTest::addColumn<int>("lookEvery");

    QTest::newRow("the file system tells") << true << 0;
    // NFS and SMB tell nothing: the look alone finds it.
    QTest::newRow("the periodic look alone") << false << 200;
}

void OthersChangesTest::othersSavesAreShownAsTheyLand()
{
    QFETCH(bool, notifications);
    QFETCH(int, lookEvery);

    signIn();
    watcher().setNotifications(notifications);
    watcher().setPollInterval(lookEvery);
    clickLine(QStringLiteral("clerk"));
    auto* name = find<QLineEdit>("NameEdit");
    name->setText(QStringLiteral("half-typed"));

    QVERIFY(inAnotherProcess([](Session& other) { return other.addUser(plain("newbie", "pw")); }));
    QTRY_COMPARE_WITH_TIMEOUT(listLines(users()), (QStringList{"admin", "clerk", Renee, "newbie"}),
                              Within);
    QVERIFY(inAnotherProcess([](Session& other) { return other.deleteUser("clerk"); }));
    QTRY_COMPARE_WITH_TIMEOUT(listLines(users()), (QStringList{"admin", Renee, "newbie"}), Within);

    // The person's place is kept: what they picked while it is there, and
    // what they typed.
    QVERIFY(inAnotherProcess([](Session& other) { return other.deleteUser("newbie"); }));
    clickLine(QStringLiteral("admin"));
    QTRY_COMPARE_WITH_TIMEOUT(listLines(users()), (QStringList{"admin", Renee}), Within);
    const std::optional<QString> picked = m_window->get()->selectedUserName();
    QVERIFY(picked);
    QCOMPARE(*picked, QStringLiteral("admin"));
    QCOMPARE(name->text(), QStringLiteral("half-typed"));
    QCOMPARE(memoryTable(), decodeTable(m_dir->read()));
    QVERIFY(!tableChanged());
    QCOMPARE(boxes(), QStringList());
}

void OthersChangesTest::aWaitingDeletionOutlivesTheirSave()
{
    signIn();
    watcher().setPollInterval(200);
    clickLine(QStringLiteral("clerk"));
    m_scripted->answer(Button::Yes); // delete clerk?
    QTest::mouseClick(find<QPushButton>("DeleteButton"), Qt::LeftButton);
    QVERIFY(session().addUser(plain("newbie", "pw")).done());
    m_window->get()->UpdateUserNameList();

    // They add a user, and one of the name this window added: that add can
    // no longer be made, and the person is told so.
    m_scripted->answer(Button::Ok);
    QVERIFY(inAnotherProcess([](Session& other) {
        ChangeResult result = other.addUser(plain("carol", "pw"));
        return result.done() ? other.addUser(plain("NewBie", "theirs")) : result;
    }));
    QTRY_COMPARE_WITH_TIMEOUT(listLines(users()), (QStringList{"admin", Renee, "carol", "NewBie"}),
                              Within);
    QCOMPARE(
        boxes().last(),
        QStringLiteral("Warning Ok: Someone else has changed Gatekeep.acl: it is shown as it "
                       "is now, and what you changed since your last save was made again on "
                       "it, but for:\nNot saved, adding the user newbie: User already exist."));
    QVERIFY(tableChanged());

    // The deletion still waits, and the close saves it on their table.
    m_scripted->answer(Button::Yes); // save the changes?
    m_window->get()->close();
    QCOMPARE(decodeTable(m_dir->read()),
             (QStringList{AdminLine, ReneeLine, "carol|pw|/srv/new|111111",
                          "NewBie|theirs|/srv/new|111111", "-"}));
}

void OthersChangesTest::aRightTakenElsewhereTakesItsSheetAway()
{
    signIn();
    watcher().setPollInterval(200);
    auto* pages = find<QTabWidget>("UserPages");
    QCOMPARE(pages->count(), 3);
    QVERIFY(inAnotherProcess([](Session& other) {
        UserData admin = plain("admin", "secret", Rights{Right::ModifyUsers});
        admin.dataPath = "C:\\Larkledger\\Data";
        return other.saveChanges(other.loadForEditing("admin"), admin);
    }));
    QTRY_COMPARE_WITH_TIMEOUT(pages->count(), 2, Within);
    QVERIFY(!find<QPushButton>("AddButton")->isEnabled());
    QVERIFY(!find<QPushButton>("DeleteButton")->isEnabled());
    QVERIFY(find<QPushButton>("ModifyButton")->isEnabled());

    // Given back, the sheet comes back to its place.
    m_dir->write(m_fixture);
    QTRY_COMPARE_WITH_TIMEOUT(pages->count(), 3, Within);
    QCOMPARE(pages->widget(2)->objectName(), QStringLiteral("UserBankAccountInfoSheet"));
    QVERIFY(find<QPushButton>("AddButton")->isEnabled());
    QCOMPARE(boxes(), QStringList());
}

void OthersChangesTest::aSignInDeletedElsewhereSignsTheWindowOut()
{
    signIn(QStringLiteral("clerk"), QStringLiteral("Pa55w0rd"));
    watcher().setPollInterval(200);
    m_scripted->answer(Button::Ok);
    QVERIFY(inAnotherProcess([](Session& other) { return other.deleteUser("clerk"); }));
    QTRY_COMPARE_WITH_TIMEOUT(boxes().size(), 1, Within);
    QCOMPARE(boxes(),
             (QStringList{"Warning Ok: Your login ID clerk is no longer in Gatekeep.acl as you "
                          "signed in (someone else deleted it, renamed it or gave it another "
                          "password): you are signed out, and nothing more can be changed until "
                          "you sign in again.\nThis window can neither change nor save anything "
                          "more: changes not saved are lost. Only Exit is left."}));
    for (const char* button : {"AddButton", "DeleteButton", "ModifyButton"})
        QVERIFY2(!find<QPushButton>(button)->isEnabled(), button);
    QCOMPARE(find<QTabWidget>("UserPages")->count(), 0);
    // Told once: the looks go on without a word.
    QTest::qWait(500);
    QCOMPARE(boxes().size(), 1);
    m_window->get()->close();
    QVERIFY(!m_window->get()->isVisible());
}

QTEST_MAIN(OthersChangesTest)
#include "OthersChangesTest.moc"
