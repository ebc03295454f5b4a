// A save of the windows that has to wait for another writer's lock: the
// windows stay painted under a small box that says so, with a busy cursor;
// its Cancel writes nothing and the person is told, and the lock let go
// lets the save through.
#include "app/SecurityManager.h"
#include "session/Session.h"
#include "signin/NewID_Form.h"
#include "support/MainWindowFixture.h"
#include "support/ThreeUsers.h"
#include "ui/WriterWaitDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

using Button = MessageBox::Button;

namespace {

const QString Waiting =
    QStringLiteral("Waiting for another copy to finish writing Gatekeep.acl\u2026");
const QString Stopped = QStringLiteral("Error Ok: Nothing was saved: you stopped waiting for "
                                       "another copy to finish writing Gatekeep.acl.");
const QString RanOut =
    QStringLiteral("Error Ok: Nothing was saved: another copy was still writing Gatekeep.acl "
                   "after 1 second. Try again once it has finished.");
const QString SaveQuestion = QStringLiteral("Confirmation YesNo: Do you want to save the changes?");
const QString CloseQuestion =
    QStringLiteral("Confirmation YesNoCancel: Do you want to save the changes?");

// Another copy of the program in the middle of a save: a process holding the
// table's writer lock until it ends.
class OtherWriter
{
public:
    OtherWriter()
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            Session other(Session::TableFileName);
            const Session::WriterTake hold = other.holdWriterLock();
            if (hold.hold && ::write(ready[1], "y", 1) == 1)
                ::pause();
            ::_exit(1);
        }
        ::close(ready[1]);
        char state = 0;
        if (m_pid < 0 || ::read(ready[0], &state, 1) != 1 || state != 'y')
            letGo();
        ::close(ready[0]);
    }
    ~OtherWriter() { letGo(); }
    OtherWriter(const OtherWriter&) = delete;
    OtherWriter& operator=(const OtherWriter&) = delete;

    bool holding() const { return m_pid > 0; }
    // The other copy ends, and the system lets its lock go.
    void letGo()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

// What the event loop saw while the save waited.
struct WaitSeen
{
    bool shown = false;
    QString text;
    bool modal = false;
    bool busyCursor = false;
    bool windowRepainted = false;
};

// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

enum class SavePath
{
    SaveChanges,
    CloseYes,
    AccountDelete,
    AccountNew
};

enum class Ending
{
    Cancel,
    LetGo,
    RunOut
};

} // namespace

Q_DECLARE_METATYPE(SavePath)
Q_DECLARE_METATYPE(Ending)

class WriterWaitTest : public QObject, public MainWindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup()
    {
        dropPendingDialogDrivers();
        tearDown();
    }

    void aSaveWaitingForTheLockSaysSoUntilItEnds_data();
    void aSaveWaitingForTheLockSaysSoUntilItEnds();
    void theFirstUsersDoneWaitsAlike_data();
    void theFirstUsersDoneWaitsAlike();
    void aLogoutDuringTheWaitSavesNothingOfItsOwn_data();
    void aLogoutDuringTheWaitSavesNothingOfItsOwn();

private:
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    void clickLine(QListWidget* list, const QString& text)
    {
        const QList<QListWidgetItem*> items = list->findItems(text, Qt::MatchExactly);
        QVERIFY2(items.size() == 1, qPrintable(text));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.first()).center());
    }
    void showAccounts()
    {
        find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
        clickLine(users(), QStringLiteral("admin"));
    }

    // From the event loop, once the wait box stands: notes what is shown,
    // then ends the wait as `ending` says.
    void watchTheWait(QWidget* watched, WaitSeen& seen, Ending ending, OtherWriter& other)
    {
        auto* painted = new PaintCounter;
        watched->installEventFilter(painted);
        auto* timer = new QTimer(qApp);
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, timer, [=, &seen, &other] {
            WriterWaitDialog* dialog = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<WriterWaitDialog*>(widget); box && box->isVisible())
                    dialog = box;
            }
            if (!dialog) {
                // Asked to repaint while the save waits: it must be.
                watched->update();
                return;
            }
            if (!seen.shown) {
                seen.shown = true;
                seen.text = dialog->findChild<QLabel*>(QStringLiteral("WaitText"))->text();
                seen.modal = QApplication::activeModalWidget() == dialog;
                seen.busyCursor = QApplication::overrideCursor() &&
                                  QApplication::overrideCursor()->shape() == Qt::BusyCursor;
                painted->paints = 0;
                watched->update();
                return;
            }
            seen.windowRepainted = painted->paints > 0;
            timer->stop();
            timer->deleteLater();
            watched->removeEventFilter(painted);
            delete painted;
            switch (ending) {
            case Ending::Cancel:
                QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("Buttons"))
                                      ->button(QDialogButtonBox::Cancel),
                                  Qt::LeftButton);
                break;
            case Ending::LetGo:
                other.letGo();
                break;
            case Ending::RunOut:
                break;
            }
        });
        timer->start();
    }
};

void WriterWaitTest::aSaveWaitingForTheLockSaysSoUntilItEnds_data()
{
    QTest::addColumn<SavePath>("path");
    QTest::addColumn<Ending>("ending");
    const std::pair<const char*, SavePath> paths[] = {{"Save Changes", SavePath::SaveChanges},
                                                      {"the close's Yes", SavePath::CloseYes},
                                                      {"account Delete", SavePath::AccountDelete},
                                                      {"account New", SavePath::AccountNew}};
    const std::pair<const char*, Ending> endings[] = {
        {"Cancel", Ending::Cancel}, {"let go", Ending::LetGo}, {"run out", Ending::RunOut}};
    for (const auto& [pathName, path] : paths) {
        for (const auto& [endingName, ending] : endings)
            QTest::addRow("%s, %s", pathName, endingName) << path << ending;
    }
}

void WriterWaitTest::aSaveWaitingForTheLockSaysSoUntilItEnds()
{
    QFETCH(SavePath, path);
    QFETCH(Ending, ending);
    signIn();
    if (ending == Ending::RunOut) {
        // The windows' own wait is ten seconds; a shorter one runs out alike.
        session().setWriterWait(std::chrono::seconds(1), WriterWaitDialog::follower(Waiting));
    }
    QStringList shown;
    QStringList saved = decodeTable(m_fixture);
    switch (path) {
    case SavePath::SaveChanges:
        clickLine(users(), QStringLiteral("clerk"));
        click("ModifyButton");
        find<QLineEdit>("PPEdit")->setText(QStringLiteral("n3w"));
        m_scripted->answer(Button::Yes);
        shown << SaveQuestion;
        // The changed user moves to the end.
        saved = QStringList{AdminLine, ReneeLine, QString(ClerkLine).replace("|Pa55w0rd|", "|n3w|"),
                            "-", "-"};
        break;
    case SavePath::CloseYes:
        clickLine(users(), QStringLiteral("clerk"));
        m_scripted->answer(Button::Yes);
        click("DeleteButton");
        m_scripted->answer(Button::Yes);
        shown << QStringLiteral("Confirmation YesNo: Do you really want to DELETE user clerk ?")
              << CloseQuestion;
        saved = QStringList{AdminLine, ReneeLine, "-", "-", "-"};
        break;
    case SavePath::AccountDelete:
        showAccounts();
        clickLine(find<QListWidget>("AccoTypeListBox"), QStringLiteral("Checking"));
        m_scripted->answer(Button::Yes);
        shown << QStringLiteral("Confirmation YesNo: Are you sure you want to delete your \n"
                                "CHECKING account ?");
        saved[0] = QStringLiteral("admin|secret|C:\\Larkledger\\Data|000000|2:Savings=");
        break;
    case SavePath::AccountNew:
        showAccounts();
        onNextModal([](QDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("NameEdit"))->setText("Loan");
            QTest::mouseClick(dialog->findChild<QPushButton*>("SaveBtn"), Qt::LeftButton);
        });
        saved[0] = QString(AdminLine).replace("|2:", "|1:Loan=No description.|2:");
        break;
    }

    if (ending != Ending::LetGo)
        m_scripted->answer(Button::Ok);
    OtherWriter other;
    QVERIFY(other.holding());
    WaitSeen seen;
    watchTheWait(m_window->get(), seen, ending, other);
    switch (path) {
    case SavePath::SaveChanges:
        click("SaveChangeButton");
        break;
    case SavePath::CloseYes:
        m_window->get()->close();
        break;
    case SavePath::AccountDelete:
        click("DelAccoBtn");
        break;
    case SavePath::AccountNew:
        click("NewAccoBtn");
        break;
    }

    QVERIFY(seen.shown);
    QCOMPARE(seen.text, Waiting);
    QVERIFY(seen.modal);
    QVERIFY(seen.busyCursor);
    QVERIFY(seen.windowRepainted);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!QApplication::activeModalWidget());
    if (ending == Ending::LetGo) {
        QCOMPARE(boxes(), shown);
        QCOMPARE(decodeTable(m_dir->read()), saved);
        QCOMPARE(m_window->get()->isVisible(), path != SavePath::CloseYes);
        return;
    }
    QCOMPARE(boxes(), shown << (ending == Ending::Cancel ? Stopped : RanOut));
    QCOMPARE(m_dir->read(), m_fixture);
    // Nothing lost: the window stays, with what was not saved.
    QVERIFY(m_window->get()->isVisible());
    if (path == SavePath::CloseYes)
        QVERIFY(tableChanged());
}

void WriterWaitTest::theFirstUsersDoneWaitsAlike_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::addRow("Cancel") << Ending::Cancel;
    QTest::addRow("let go") << Ending::LetGo;
}

// The first-use dialog saves through the session the windows share, with the
// wait the program sets up for it.
void WriterWaitTest::theFirstUsersDoneWaitsAlike()
{
    QFETCH(Ending, ending);
    QVERIFY(QFile::remove(QStringLiteral("Gatekeep.acl")));
    m_dir->touch(QStringLiteral("~first.log"));
    SecurityManager manager(m_dir->path());
    Session& session = manager.session();
    TNewID_Form dialog(session, m_dir->path());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.findChild<QLineEdit*>(QStringLiteral("ELoginName"))->setText("boss");
    dialog.findChild<QLineEdit*>(QStringLiteral("EPersonal_Code"))->setText("pw");
    m_scripted->answer(Button::Ok); // the new ID and password, or the wait's end

    OtherWriter other;
    QVERIFY(other.holding());
    WaitSeen seen;
    watchTheWait(&dialog, seen, ending, other);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("Done_Button")),
                      Qt::LeftButton);

    QVERIFY(seen.shown);
    QCOMPARE(seen.text, Waiting);
    QVERIFY(seen.modal);
    QVERIFY(seen.busyCursor);
    QVERIFY(seen.windowRepainted);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(session.signedIn(), ending == Ending::LetGo);
    QCOMPARE(dialog.SetupDone(), ending == Ending::LetGo);
    if (ending == Ending::LetGo) {
        QCOMPARE(boxes().size(), 1);
        QVERIFY(boxes().at(0).startsWith("Confirmation Ok: Please write down your new ID"));
        QCOMPARE(decodeTable(m_dir->read()).at(0).section('|', 0, 0), QStringLiteral("boss"));
        return;
    }
    QCOMPARE(boxes(), QStringList{Stopped});
    QVERIFY(dialog.isVisible());
    QVERIFY(!m_dir->exists(QStringLiteral("Gatekeep.acl")) || m_dir->read().isEmpty());
    QVERIFY(m_dir->exists(QStringLiteral("~first.log")));
}

void WriterWaitTest::aLogoutDuringTheWaitSavesNothingOfItsOwn_data()
{
    QTest::addColumn<bool>("mayAsk");
    QTest::newRow("the logout may ask") << true;
    // Its unasked save writes nothing either, without a box, and asks the
    // desktop to stay.
    QTest::newRow("the logout may not ask") << false;
}

// The desktop's logout asks as Exit does, also while a save waits: its own
// save, in the middle of the other, writes nothing and says so, and the
// waiting one goes on under its box.
void WriterWaitTest::aLogoutDuringTheWaitSavesNothingOfItsOwn()
{
    QFETCH(bool, mayAsk);
    signIn();
    clickLine(users(), QStringLiteral("clerk"));
    m_scripted->answer(Button::Yes);
    click("DeleteButton");
    m_scripted->answer(Button::Yes); // the close: save?
    if (mayAsk) {
        m_scripted->answer(Button::Yes); // the logout: save?
        m_scripted->answer(Button::Ok);  // the logout's save: nothing saved
    }
    m_scripted->answer(Button::Ok); // the close's save, cancelled
    OtherWriter other;
    QVERIFY(other.holding());
    bool loggedOut = true;
    bool boxStayed = false;
    onNextModal([&](QDialog* dialog) {
        loggedOut = m_window->manager().logoutQuery(mayAsk);
        boxStayed = dialog->isVisible() && QApplication::overrideCursor() &&
                    QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("Buttons"))
                              ->button(QDialogButtonBox::Cancel),
                          Qt::LeftButton);
    });
    m_window->get()->close();

    QVERIFY(!loggedOut);
    QVERIFY(boxStayed);
    const QString confirmDelete =
        QStringLiteral("Confirmation YesNo: Do you really want to DELETE user clerk ?");
    const QStringList expected =
        mayAsk ? QStringList{confirmDelete, CloseQuestion, CloseQuestion, Stopped, Stopped}
               : QStringList{confirmDelete, CloseQuestion, Stopped};
    QCOMPARE(boxes(), expected);
    QCOMPARE(m_dir->read(), m_fixture);
    QVERIFY(m_window->get()->isVisible());
    QVERIFY(tableChanged());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

QTEST_MAIN(WriterWaitTest)
#include "WriterWaitTest.moc"
