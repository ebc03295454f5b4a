#include "admin/MainForm.h"
#include "signin/PassWords.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/SignedInMainForm.h"
#include "tests/support/TempWorkDir.h"
#include "ui/AppTitle.h"
#include "ui/CodePage.h"
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

void Place(TempWorkDir& dir, const QString& name, Entry entry, const QString& fixture = {})
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
void WriteTableOfOneUser(const QString& name, const QString& password, bool addUsers,
                         bool deleteUsers, bool modifyUsers)
{
    const auto flag = [](bool granted) { return granted ? "0" : "1"; };
    UserRecord plain{};
    plain.LoginName.assign(ToAnsi(name));
    plain.Password.assign(ToAnsi(password));
    plain.DataPath.assign("/srv/data");
    plain.AddUsers.assign(flag(addUsers));
    plain.DeleteUsers.assign(flag(deleteUsers));
    plain.ModifyUsers.assign(flag(modifyUsers));
    plain.AddRecord.assign(flag(!addUsers));
    plain.DeleteRecord.assign(flag(!deleteUsers));
    plain.ModifyRecord.assign(flag(!modifyUsers));
    StoreNewUser(plain);
    SaveUserTable();
    ResetUserTable();
}

AnsiString StoredLoginName(const QByteArray& file, int slot)
{
    UserRecord record{};
    std::memcpy(static_cast<void*>(&record), file.constData() + (slot - 1) * UserRecordSize,
                UserRecordSize);
    return Decoded(record.LoginName);
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
    void setCurrentUserUnknownName();

private:
    template <class T> T* child(const char* name) const
    {
        T* found = m_form->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    void startSignedIn(const QString& name, const QString& password)
    {
        SignInWith(name, password);
        m_form = std::make_unique<TMainForm>();
        QVERIFY(!TerminateRequested());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    bool tabVisible(const char* sheet) const
    {
        auto* pages = child<QTabWidget>("UserPages");
        return pages->isTabVisible(pages->indexOf(child<QWidget>(sheet)));
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
    std::unique_ptr<TMainForm> m_form;
};

void SessionTest::init()
{
    ResetUserTable();
    TableChanged = false;
    m_dir = std::make_unique<TempWorkDir>();
    m_ui = std::make_unique<ScriptedUi>();
}

void SessionTest::cleanup()
{
    m_form.reset();
    DropPendingDialogDrivers();
    const QString problems = m_ui->problems();
    m_ui.reset();
    m_dir.reset();
    ResetUserTable();
    TableChanged = false;
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
    QTest::newRow("table is a directory") << Entry::File << Entry::Directory << "NewID_Form" << -1;
}

// Which dialog the start-up runs; it is given up at once, so the program
// ends without saving and the marker stays where it is.
void SessionTest::startupPath()
{
    QFETCH(Entry, marker);
    QFETCH(Entry, table);
    QFETCH(QString, dialog);
    QFETCH(int, tableSizeAfter);

    Place(*m_dir, Marker, marker);
    Place(*m_dir, TableFile, table, QStringLiteral("three-users.acl"));
    const QByteArray before = m_dir->read();

    QString seen;
    GiveUpStartupDialog(&seen);
    if (dialog == QLatin1String("PassWords"))
        m_ui->answer(Button::Ok); // the internal error after Quit
    else
        m_ui->answer(Button::Yes); // "Are you sure to quit"?
    m_form = std::make_unique<TMainForm>();

    QCOMPARE(seen, dialog);
    QVERIFY(TerminateRequested());
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
    QCOMPARE(m_form->WorkingDir, QDir::currentPath());
    QVERIFY(!TableChanged);
}

void SessionTest::firstUseOpensDesignedWindow()
{
    m_dir->touch(Marker);
    QDir(m_dir->path()).mkdir(QStringLiteral("data"));
    const QString dataDir = QDir(m_dir->path()).filePath(QStringLiteral("data"));

    QString seen;
    OnNextModal([&seen](QDialog* dialog) {
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
    m_form = std::make_unique<TMainForm>();

    QCOMPARE(seen, QStringLiteral("NewID_Form"));
    QVERIFY(!TerminateRequested());
    QCOMPARE(m_ui->shown.size(), 1); // no login, so no internal error either
    QCOMPARE(PassWords->LoginState, 1);

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
    QCOMPARE(StoredLoginName(file, 1), AnsiString("boss"));
    QCOMPARE(Decoded(m_form->CurrentUser.LoginName), AnsiString("boss"));

    // The next start takes the normal path and signs the new user in.
    m_form.reset();
    ResetUserTable();
    startSignedIn(QStringLiteral("boss"), QStringLiteral("pw1"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("KVS - boss"));
    QVERIFY(child<QPushButton>("AddButton")->isEnabled());
    QVERIFY(tabVisible("UserBankAccountInfoSheet"));
}

void SessionTest::quitEndsWithoutMainWindow()
{
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    const QByteArray before = m_dir->read();
    GiveUpStartupDialog();
    m_ui->answer(Button::Ok);
    m_form = std::make_unique<TMainForm>();

    expectBoxes({{Kind::Error, QStringLiteral("Error"), KvsError, Buttons::Ok}});
    QVERIFY(TerminateRequested());
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
    WriteTableOfOneUser(QStringLiteral("user"), QStringLiteral("pw"), addUsers, deleteUsers,
                        modifyUsers);
    startSignedIn(QStringLiteral("user"), QStringLiteral("pw"));

    QCOMPARE(child<QPushButton>("AddButton")->isEnabled(), addUsers);
    QCOMPARE(child<QPushButton>("DeleteButton")->isEnabled(), deleteUsers);
    QCOMPARE(child<QPushButton>("ModifyButton")->isEnabled(), modifyUsers);

    QCOMPARE(tabVisible("ActionSheet"), addUsers || modifyUsers);
    QCOMPARE(tabVisible("UserInfoSheet"), modifyUsers || deleteUsers);
    QCOMPARE(tabVisible("UserBankAccountInfoSheet"), modifyUsers && deleteUsers);

    for (const char* name : {"ARCombo", "DRCombo", "MRCombo", "AUCombo", "DUCombo", "MUCombo"})
        QVERIFY2(child<QComboBox>(name)->isEnabled() == (addUsers && modifyUsers), name);

    // The sheet in front is one whose tab is shown; none when all are hidden.
    int shownSheets = 0;
    for (const char* name : {"UserInfoSheet", "ActionSheet", "UserBankAccountInfoSheet"}) {
        if (child<QWidget>(name)->isVisible()) {
            ++shownSheets;
            QVERIFY2(tabVisible(name), name);
        }
    }
    QCOMPARE(shownSheets, (addUsers || deleteUsers || modifyUsers) ? 1 : 0);

    QCOMPARE(m_form->windowTitle(), QStringLiteral("KVS - user"));
    QCOMPARE(child<QListWidget>("UserNames")->count(), 1);
    QVERIFY(!child<QPushButton>("SaveChangeButton")->isEnabled());
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
        WriteTableOfOneUser(name, password, true, true, true);
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
    QTest::addColumn<QByteArray>("content"); // empty: Gatekeep.acl is a directory
    QTest::addColumn<QString>("report");

    QTest::newRow("partial record")
        << QByteArray(UserRecordSize + 700, '\x01') << "Read beyond end of file.";
    QTest::newRow("one byte short")
        << QByteArray(5 * UserRecordSize - 1, '\0') << "Read beyond end of file.";
    QTest::newRow("cannot be created") << QByteArray() << "File access denied.";
}

// The table cannot be read or made: the error report, no login dialog, and
// the program ends without its main window.
void SessionTest::damagedTableEndsStartup()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, report);
    if (content.isEmpty())
        QVERIFY(QDir(m_dir->path()).mkdir(TableFile));
    else
        m_dir->write(content);

    QString seen;
    GiveUpStartupDialog(&seen);
    m_ui->answer(Button::Ok);
    m_form = std::make_unique<TMainForm>();

    QCOMPARE(seen, QString());
    expectBoxes({{Kind::Error, ApplicationTitle(), report, Buttons::Ok}});
    QVERIFY(TerminateRequested());
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Larkledger Security Manager"));
    if (!content.isEmpty())
        QCOMPARE(m_dir->read(), content);
    for (int n = 1; n <= SlotCount; ++n)
        QVERIFY(IsFreeSlot(Slot(n)));
}

void SessionTest::closePrompt_data()
{
    QTest::addColumn<QString>("via");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<Button>("answer");
    QTest::addColumn<bool>("saveFails");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");

    for (const char* via : {"ExitButton", "ExitButton2", "close box"}) {
        const QString v = QLatin1String(via);
        QTest::addRow("%s, no change", via) << v << false << Button::Ok << false << true << false;
        QTest::addRow("%s, Yes", via) << v << true << Button::Yes << false << true << true;
        QTest::addRow("%s, No", via) << v << true << Button::No << false << true << false;
        QTest::addRow("%s, Cancel", via) << v << true << Button::Cancel << false << false << false;
    }
    QTest::addRow("Yes, save fails")
        << "ExitButton" << true << Button::Yes << true << false << false;
}

void SessionTest::closePrompt()
{
    QFETCH(QString, via);
    QFETCH(bool, changed);
    QFETCH(Button, answer);
    QFETCH(bool, saveFails);
    QFETCH(bool, closes);
    QFETCH(bool, saved);

    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    const QByteArray before = m_dir->read();
    startSignedIn(QStringLiteral("admin"), QStringLiteral("secret"));

    if (changed) {
        // What Add leaves behind: a user in memory only.
        UserRecord plain{};
        plain.LoginName.assign("newbie");
        plain.Password.assign("pw");
        StoreNewUser(plain);
        TableChanged = true;
        m_ui->answer(answer);
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
    QTimer::singleShot(0, m_form.get(), [&] {
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
            {Kind::Error, ApplicationTitle(), QStringLiteral("File access denied."), Buttons::Ok});
    expectBoxes(boxes);

    QCOMPARE(m_form->isVisible(), !closes);
    QCOMPARE(loopResult, closes ? 0 : StillRunning);
    if (saveFails) {
        QVERIFY(QFileInfo(QDir(m_dir->path()).filePath(TableFile)).isDir());
    } else if (saved) {
        const QByteArray file = m_dir->read();
        QCOMPARE(file.size(), 6565);
        QCOMPARE(StoredLoginName(file, 4), AnsiString("newbie"));
    } else {
        QCOMPARE(m_dir->read(), before);
    }
    if (!closes) {
        // The changes are still there to be saved later.
        QVERIFY(TableChanged);
        QCOMPARE(FindUser("newbie"), 4);
    }
}

void SessionTest::setCurrentUserUnknownName()
{
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    startSignedIn(QStringLiteral("clerk"), QStringLiteral("Pa55w0rd"));
    const UserRecord before = m_form->CurrentUser;

    m_form->SetCurrentUser("Clerk"); // case matters
    QVERIFY(m_form->CurrentUser.LoginName.empty());
    QVERIFY(m_form->CurrentUser.Password.empty());
    // Only the two lengths change.
    UserRecord expected = before;
    expected.LoginName.Length = 0;
    expected.Password.Length = 0;
    QVERIFY(std::memcmp(&expected, &m_form->CurrentUser, UserRecordSize) == 0);

    m_form->SetCurrentUser("admin");
    QVERIFY(std::memcmp(&Slot(1), &m_form->CurrentUser, UserRecordSize) == 0);
}

QTEST_MAIN(SessionTest)
#include "SessionTest.moc"
