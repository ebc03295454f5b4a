#include "admin/MainForm.h"
#include "app/SecurityManager.h"
#include "signin/PassWords.h"
#include "store/Scramble.h"
#include "store/TableFile.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/SignedInMainForm.h"
#include "tests/support/TableFile.h"
#include "tests/support/TableSlots.h"
#include "tests/support/TempWorkDir.h"
#include "ui/AppTitle.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <cstring>

#include <memory>
#include <sys/stat.h>

using Kind = MessageBox::Kind;
using Button = MessageBox::Button;
using Buttons = MessageBox::Buttons;
Q_DECLARE_METATYPE(MessageBox::Button)

namespace {

const QString TableFile = QStringLiteral("Gatekeep.acl");
const QString Marker = QStringLiteral("~first.log");
const QString KvsError = QStringLiteral("KVS Internal error PPP[0000:0001]");
const QString SavePrompt = QStringLiteral("Do you want to save the changes?");

enum class Entry
{
    None,
    File,
    Directory
};

void place(TempWorkDir& dir, const QString& name, Entry entry, const QString& fixture = {})
{
    if (entry == Entry::Directory)
        QVERIFY(QDir(dir.path()).mkdir(name));
    else if (entry == Entry::File && fixture.isEmpty())
        dir.touch(name);
    else if (entry == Entry::File)
        dir.copyFixture(fixture, name);
}

// Writes a one-user table. The record rights are the opposite of the user
// rights, so a mix-up between the two shows.
void writeTableOfOneUser(const QString& name, const QString& password, bool addUsers,
                         bool deleteUsers, bool modifyUsers)
{
    const auto flag = [](bool granted) { return granted ? "0" : "1"; };
    UserRecord plain{};
    plain.LoginName.assign(tableTextOf(name));
    plain.Password.assign(tableTextOf(password));
    plain.DataPath.assign("/srv/data");
    plain.AddUsers.assign(flag(addUsers));
    plain.DeleteUsers.assign(flag(deleteUsers));
    plain.ModifyUsers.assign(flag(modifyUsers));
    plain.AddRecord.assign(flag(!addUsers));
    plain.DeleteRecord.assign(flag(!deleteUsers));
    plain.ModifyRecord.assign(flag(!modifyUsers));
    UserTable table;
    table.StoreNewUser(plain);
    table.ClearEmptySlots();
    SaveUserTable(table, Session::TableFileName);
}

AnsiString storedLoginName(const QByteArray& file, int slot)
{
    UserRecord record{};
    std::memcpy(static_cast<void*>(&record), file.constData() + (slot - 1) * UserRecordSize,
                UserRecordSize);
    return decoded(record.LoginName);
}

} // namespace

class SessionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startupPath_data();
    void startupPath();
    void firstUseOpensDesignedWindow();
    void quitEndsWithoutMainWindow();
    void rightsApplied_data();
    void rightsApplied();
    void captionShowsStoredName_data();
    void captionShowsStoredName();
    void tooltipsAqua();
    void damagedTableEndsStartup_data();
    void damagedTableEndsStartup();
    void closePrompt_data();
    void closePrompt();
    void signInNameIsCaseSensitive();

private:
    template <class T> T* child(const char* name) const
    {
        T* found = m_form->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    // The program's start-up, as main() runs it.
    void start()
    {
        m_app = std::make_unique<SecurityManager>(QDir::currentPath());
        m_app->start();
        m_form = m_app->mainForm();
    }
    void stop()
    {
        m_form = nullptr;
        m_app.reset();
    }
    void startSignedIn(const QString& name, const QString& password)
    {
        signInWith(name, password);
        start();
        QVERIFY(!terminateRequested());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form));
    }
    // A sheet of the window; null when the window has none of that name.
    QWidget* sheet(const char* name) const
    {
        return m_form->findChild<QWidget*>(QLatin1String(name));
    }
    // Whether the sheet's tab is there to be seen and picked.
    bool tabVisible(const char* name) const
    {
        auto* pages = child<QTabWidget>("UserPages");
        const int index = sheet(name) ? pages->indexOf(sheet(name)) : -1;
        return index >= 0 && pages->isTabVisible(index);
    }
    void expectBoxes(const QList<MessageBox::Shown>& expected)
    {
        QCOMPARE(m_ui->shown.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(m_ui->shown[i].kind, expected[i].kind);
            QCOMPARE(m_ui->shown[i].title, expected[i].title);
            QCOMPARE(m_ui->shown[i].text, expected[i].text);
            QCOMPARE(m_ui->shown[i].buttons, expected[i].buttons);
        }
    }

    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<SecurityManager> m_app;
    TMainForm* m_form = nullptr;
};

void SessionTest::init()
{
    m_dir = std::make_unique<TempWorkDir>();
    m_ui = std::make_unique<ScriptedUi>();
}

void SessionTest::cleanup()
{
    stop();
    dropPendingDialogDrivers();
    const QString problems = m_ui->problems();
    m_ui.reset();
    m_dir.reset();
    QCOMPARE(problems, QString());
}

void SessionTest::startupPath_data()
{
    QTest::addColumn<Entry>("marker");
    QTest::addColumn<Entry>("table");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<int>("tableSizeAfter"); // -1: no table file afterwards

    QTest::newRow("table, no marker") << Entry::None << Entry::File << "PassWords" << 6565;
    QTest::newRow("table and marker") << Entry::File << Entry::File << "PassWords" << 6565;
    QTest::newRow("neither: empty table made") << Entry::None << Entry::None << "PassWords" << 0;
    QTest::newRow("marker, no table") << Entry::File << Entry::None << "NewID_Form" << -1;
    QTest::newRow("marker is a directory") << Entry::Directory << Entry::None << "PassWords" << 0;
}

// Which dialog the start-up runs; it is given up at once, so the program
// ends without saving and the marker stays where it is.
void SessionTest::startupPath()
{
    QFETCH(Entry, marker);
    QFETCH(Entry, table);
    QFETCH(QString, dialog);
    QFETCH(int, tableSizeAfter);

    place(*m_dir, Marker, marker);
    place(*m_dir, TableFile, table, QStringLiteral("three-users.acl"));
    const QByteArray before = m_dir->read();

    QString seen;
    giveUpStartupDialog(&seen);
    if (dialog == QLatin1String("PassWords"))
        m_ui->answer(Button::Ok); // the internal error after Quit
    else
        m_ui->answer(Button::Yes); // "Are you sure to quit"?
    start();

    QCOMPARE(seen, dialog);
    QVERIFY(terminateRequested());
    QVERIFY(!m_form->isVisible());
    QCOMPARE(QFileInfo(QDir(m_dir->path()).filePath(Marker)).exists(), marker != Entry::None);
    if (tableSizeAfter < 0) {
        QVERIFY(!m_dir->exists(TableFile));
    } else {
        QVERIFY(m_dir->exists(TableFile));
        QCOMPARE(m_dir->read().size(), tableSizeAfter);
        if (table == Entry::File)
            QCOMPARE(m_dir->read(), before);
    }
    QCOMPARE(m_app->WorkingDir(), QDir::currentPath());
    QVERIFY(!m_app->session().TableChanged());
}

void SessionTest::firstUseOpensDesignedWindow()
{
    m_dir->touch(Marker);
    QDir(m_dir->path()).mkdir(QStringLiteral("data"));
    const QString dataDir = QDir(m_dir->path()).filePath(QStringLiteral("data"));

    QString seen;
    onNextModal([&seen](QDialog* dialog) {
        seen = dialog->objectName();
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("ELoginName")), "boss");
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("EPersonal_Code")), "pw1");
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("DataPathButton")),
                          Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Done_Button")),
                          Qt::LeftButton);
        if (dialog->isVisible())
            dialog->done(QDialog::Rejected);
    });
    m_ui->chooseFolder(dataDir);
    m_ui->answer(Button::Ok); // the new ID's confirmation
    start();

    QCOMPARE(seen, QStringLiteral("NewID_Form"));
    QVERIFY(!terminateRequested());
    QCOMPARE(m_ui->shown.size(), 1); // no login, so no internal error either
    QCOMPARE(m_app->loginDialog()->LoginState(), 1);

    // No rights were applied: the window is as designed.
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Larkledger Security Manager"));
    for (const char* name : {"AddButton", "ModifyButton", "DeleteButton"})
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
    for (const char* name : {"UserInfoSheet", "ActionSheet", "UserBankAccountInfoSheet"})
        QVERIFY2(tabVisible(name), name);
    for (const char* name : {"ARCombo", "DRCombo", "MRCombo", "AUCombo", "DUCombo", "MUCombo"})
        QVERIFY2(child<QComboBox>(name)->isEnabled(), name);
    QVERIFY(!child<QPushButton>("SaveChangeButton")->isEnabled());

    auto* names = child<QListWidget>("UserNames");
    QCOMPARE(names->count(), 1);
    QCOMPARE(names->item(0)->text(), QStringLiteral("boss"));
    QCOMPARE(names->currentRow(), -1);

    QVERIFY(!m_dir->exists(Marker));
    const QByteArray file = m_dir->read();
    QCOMPARE(file.size(), 6565);
    QCOMPARE(storedLoginName(file, 1), AnsiString("boss"));
    QCOMPARE(m_app->session().me().loginName, std::string("boss"));

    // The next start takes the normal path and signs the new user in.
    stop();
    startSignedIn(QStringLiteral("boss"), QStringLiteral("pw1"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("KVS - boss"));
    QVERIFY(child<QPushButton>("AddButton")->isEnabled());
    QVERIFY(tabVisible("UserBankAccountInfoSheet"));
}

void SessionTest::quitEndsWithoutMainWindow()
{
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    const QByteArray before = m_dir->read();
    giveUpStartupDialog();
    m_ui->answer(Button::Ok);
    start();

    expectBoxes({{Kind::Error, QStringLiteral("Error"), KvsError, Buttons::Ok}});
    QVERIFY(terminateRequested());
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Larkledger Security Manager"));
    QCOMPARE(m_dir->read(), before);
}

void SessionTest::rightsApplied_data()
{
    QTest::addColumn<bool>("addUsers");
    QTest::addColumn<bool>("deleteUsers");
    QTest::addColumn<bool>("modifyUsers");
    for (int bits = 0; bits < 8; ++bits) {
        const bool add = bits & 1, del = bits & 2, mod = bits & 4;
        const QString name = QStringLiteral("add %1, delete %2, modify %3")
                                 .arg(add ? "yes" : "no", del ? "yes" : "no", mod ? "yes" : "no");
        QTest::newRow(qPrintable(name)) << add << del << mod;
    }
}

void SessionTest::rightsApplied()
{
    QFETCH(bool, addUsers);
    QFETCH(bool, deleteUsers);
    QFETCH(bool, modifyUsers);
    writeTableOfOneUser(QStringLiteral("user"), QStringLiteral("pw"), addUsers, deleteUsers,
                        modifyUsers);
    startSignedIn(QStringLiteral("user"), QStringLiteral("pw"));

    QCOMPARE(child<QPushButton>("AddButton")->isEnabled(), addUsers);
    QCOMPARE(child<QPushButton>("DeleteButton")->isEnabled(), deleteUsers);
    QCOMPARE(child<QPushButton>("ModifyButton")->isEnabled(), modifyUsers);

    QCOMPARE(tabVisible("ActionSheet"), addUsers || modifyUsers);
    QCOMPARE(tabVisible("UserInfoSheet"), modifyUsers || deleteUsers);
    QCOMPARE(tabVisible("UserBankAccountInfoSheet"), modifyUsers && deleteUsers);

    // The rights boxes live on the editor; without it they are out of the
    // window altogether.
    for (const char* name : {"ARCombo", "DRCombo", "MRCombo", "AUCombo", "DUCombo", "MUCombo"}) {
        auto* combo = m_form->findChild<QComboBox*>(QLatin1String(name));
        QVERIFY2((combo != nullptr) == (addUsers || modifyUsers), name);
        if (combo)
            QVERIFY2(combo->isEnabled() == (addUsers && modifyUsers), name);
    }

    // The sheet in front is one whose tab is shown; none when all are hidden.
    int shownSheets = 0;
    for (const char* name : {"UserInfoSheet", "ActionSheet", "UserBankAccountInfoSheet"}) {
        if (sheet(name) && sheet(name)->isVisible()) {
            ++shownSheets;
            QVERIFY2(tabVisible(name), name);
        }
    }
    QCOMPARE(shownSheets, (addUsers || deleteUsers || modifyUsers) ? 1 : 0);

    QCOMPARE(m_form->windowTitle(), QStringLiteral("KVS - user"));
    QCOMPARE(child<QListWidget>("UserNames")->count(), 1);
    if (auto* save = m_form->findChild<QPushButton*>(QStringLiteral("SaveChangeButton")))
        QVERIFY(!save->isEnabled());
    QVERIFY(m_ui->shown.isEmpty());
}

void SessionTest::captionShowsStoredName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::newRow("fixture admin") << "admin"
                                   << "secret";
    QTest::newRow("fixture clerk") << "clerk"
                                   << "Pa55w0rd";
    QTest::newRow("15 characters, accented") << QStringLiteral("Zoë Müller-Öbst") << "x";
}

void SessionTest::captionShowsStoredName()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    if (name == QLatin1String("admin") || name == QLatin1String("clerk"))
        m_dir->copyFixture(QStringLiteral("three-users.acl"));
    else
        writeTableOfOneUser(name, password, true, true, true);
    startSignedIn(name, password);
    QCOMPARE(m_form->windowTitle(), QStringLiteral("KVS - ") + name);
}

void SessionTest::tooltipsAqua()
{
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    startSignedIn(QStringLiteral("admin"), QStringLiteral("secret"));
    QCOMPARE(QApplication::palette().color(QPalette::ToolTipBase), QColor(0, 255, 255));
    QCOMPARE(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0, 255, 255));
}

void SessionTest::damagedTableEndsStartup_data()
{
    QTest::addColumn<QByteArray>("content"); // the file, or "dir", "fifo", "dangling"
    QTest::addColumn<QString>("report");

    QTest::newRow("partial record")
        << QByteArray(UserRecordSize + 700, '\x01') << "Read beyond end of file.";
    QTest::newRow("one byte short")
        << QByteArray(5 * UserRecordSize - 1, '\0') << "Read beyond end of file.";
    // What stands in the table's place and is no table: the program ends
    // as for an unreadable one, the marker notwithstanding, and nothing is
    // made through it.
    QTest::newRow("a directory") << QByteArray("dir") << "File access denied.";
    QTest::newRow("a FIFO") << QByteArray("fifo") << "File access denied.";
    QTest::newRow("a link to nowhere") << QByteArray("dangling") << "File not found.";
}

// The table cannot be read or made: the error report, no login dialog, and
// the program ends without its main window.
void SessionTest::damagedTableEndsStartup()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, report);
    const QString table = QDir(m_dir->path()).filePath(TableFile);
    const bool special = content == "dir" || content == "fifo" || content == "dangling";
    if (content == "dir") {
        QVERIFY(QDir(m_dir->path()).mkdir(TableFile));
    } else if (content == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(table).constData(), 0600) == 0);
    } else if (content == "dangling") {
        QVERIFY(QFile::link(QDir(m_dir->path()).filePath(QStringLiteral("gone.acl")), table));
    } else {
        m_dir->write(content);
    }
    if (special)
        m_dir->touch(Marker);

    QString seen;
    giveUpStartupDialog(&seen);
    m_ui->answer(Button::Ok);
    start();

    QCOMPARE(seen, QString());
    expectBoxes({{Kind::Error, applicationTitle(), report, Buttons::Ok}});
    QVERIFY(terminateRequested());
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Larkledger Security Manager"));
    if (!special)
        QCOMPARE(m_dir->read(), content);
    QVERIFY(!m_dir->exists(QStringLiteral("gone.acl")));
    for (int n = 1; n <= SlotCount; ++n)
        QVERIFY(TableSlots::inMemory(m_app->session()).isFree(n));
}

void SessionTest::closePrompt_data()
{
    QTest::addColumn<QString>("via");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<Button>("answer");
    QTest::addColumn<bool>("saveFails");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("vanished"); // the table renamed away meanwhile

    for (const char* via : {"ExitButton", "ExitButton2", "close box"}) {
        const QString v = QLatin1String(via);
        QTest::addRow("%s, no change", via)
            << v << false << Button::Ok << false << true << false << false;
        QTest::addRow("%s, Yes", via) << v << true << Button::Yes << false << true << true << false;
        QTest::addRow("%s, No", via) << v << true << Button::No << false << true << false << false;
        QTest::addRow("%s, Cancel", via)
            << v << true << Button::Cancel << false << false << false << false;
    }
    QTest::addRow("Yes, save fails")
        << "ExitButton" << true << Button::Yes << true << false << false << false;
    // Someone renamed the table away: Yes writes it anew, and says so.
    QTest::addRow("Yes, table gone")
        << "ExitButton" << true << Button::Yes << false << true << true << true;
}

void SessionTest::closePrompt()
{
    QFETCH(QString, via);
    QFETCH(bool, changed);
    QFETCH(Button, answer);
    QFETCH(bool, saveFails);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    QFETCH(bool, vanished);

    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    const QByteArray before = m_dir->read();
    startSignedIn(QStringLiteral("admin"), QStringLiteral("secret"));

    if (changed) {
        // What Add leaves behind: a user in memory only.
        UserData plain;
        plain.loginName = "newbie";
        plain.password = "pw";
        plain.dataPath = "/srv/new";
        QVERIFY(m_app->session().addUser(plain).done());
        QVERIFY(m_app->session().TableChanged());
        m_ui->answer(answer);
    }
    if (vanished) {
        QVERIFY(QFile::rename(QDir(m_dir->path()).filePath(TableFile),
                              QDir(m_dir->path()).filePath(QStringLiteral("moved.acl"))));
        m_ui->answer(Button::Ok);
    }
    if (saveFails) {
        // The save replaces the file; a directory in its place cannot be.
        QVERIFY(QFile::remove(QDir(m_dir->path()).filePath(TableFile)));
        QVERIFY(QDir(m_dir->path()).mkdir(TableFile));
        m_ui->answer(Button::Ok);
    }

    // Run the close inside the application's own loop: the loop ends (with
    // 0) only when closing the main window ends the program.
    constexpr int StillRunning = 42;
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    connect(&stillRunning, &QTimer::timeout, qApp, [] { QCoreApplication::exit(StillRunning); });
    QTimer::singleShot(0, m_form, [&] {
        if (via == QLatin1String("close box"))
            m_form->close();
        else
            child<QPushButton>(qPrintable(via))->click();
        stillRunning.start(200);
    });
    const int loopResult = QApplication::exec();
    stillRunning.stop();

    QList<MessageBox::Shown> boxes;
    if (changed)
        boxes.append(
            {Kind::Confirmation, QStringLiteral("Confirm"), SavePrompt, Buttons::YesNoCancel});
    if (saveFails)
        boxes.append(
            {Kind::Error, applicationTitle(), QStringLiteral("File access denied."), Buttons::Ok});
    if (vanished)
        boxes.append({Kind::Warning, QStringLiteral("Warning"),
                      QStringLiteral("Gatekeep.acl was gone (removed or renamed by someone else): "
                                     "it has been written anew, with the table as shown here."),
                      Buttons::Ok});
    expectBoxes(boxes);

    QCOMPARE(m_form->isVisible(), !closes);
    QCOMPARE(loopResult, closes ? 0 : StillRunning);
    if (saveFails) {
        QVERIFY(QFileInfo(QDir(m_dir->path()).filePath(TableFile)).isDir());
    } else if (saved) {
        const QByteArray file = m_dir->read();
        QCOMPARE(file.size(), 6565);
        QCOMPARE(storedLoginName(file, 4), AnsiString("newbie"));
    } else {
        QCOMPARE(m_dir->read(), before);
    }
    if (!closes) {
        // The changes are still there to be saved later.
        QVERIFY(m_app->session().TableChanged());
        QCOMPARE(TableSlots::inMemory(m_app->session()).findUser("newbie"), 4);
    }
}

// Login names are compared with their letter case; a refused attempt leaves
// the signed-in user as they were.
void SessionTest::signInNameIsCaseSensitive()
{
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    startSignedIn(QStringLiteral("clerk"), QStringLiteral("Pa55w0rd"));
    Session& session = m_app->session();
    QCOMPARE(session.signIn("Clerk", "Pa55w0rd"), Session::SignInResult::UnknownName);
    QCOMPARE(session.me().loginName, std::string("clerk"));
    QVERIFY(session.mayModify() && !session.mayAdd());
}

QTEST_MAIN(SessionTest)
#include "SessionTest.moc"
