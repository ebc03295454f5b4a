#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "support/Controls.h"
#include "support/Keyboard.h"
#include "support/ListPicks.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedUi.h"
#include "support/SignedInMainForm.h"
#include "support/TableFile.h"
#include "support/TempWorkDir.h"
#include "support/ThreeUsers.h"
#include "support/WindowText.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <functional>

#include <memory>

using Button = MessageBox::Button;

namespace {

const QString SelectText = QStringLiteral("Select an account to see the description.");

QString internalError(const char* code)
{
    return QStringLiteral("Error Ok: Security Manager Internal Error:\n"
                          "Error Code: %1\n"
                          "Please send this error message to support@larkledger.example\n"
                          "with the error code and a short description of your \n"
                          "OS information. Thank you.")
        .arg(QLatin1String(code));
}

// What the dialog showed when it came, and how it was left.
struct DialogRun
{
    bool shown = false;
    QString name;
    QString description;
};

} // namespace

class BankAccountPageTest : public QObject, private MainWindowFixture
{
    Q_OBJECT

private:
    QListWidget* accounts() const { return find<QListWidget>("AccoTypeListBox"); }
    QString description() const { return find<QPlainTextEdit>("DescriptionLabel")->toPlainText(); }
    QStringList file() const { return decodeTable(m_dir->read()); }

    void startWith(const QByteArray& table)
    {
        m_window.reset();
        m_dir->write(table);
        signIn();
        if (QTest::currentTestFailed())
            return;
        auto* pages = find<QTabWidget>("UserPages");
        pages->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    }

    // Someone else changes the file and the session takes their version,
    // so the page no longer agrees with the table.
    void changeBehindThePage(const std::function<void(TableSlots&)>& change)
    {
        TableSlots table = tableSlots(m_dir->read());
        change(table);
        m_dir->write(tableBytes(table));
        session().reload();
        m_fixture = m_dir->read();
    }

    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    void clickLine(QListWidget* list, int row)
    {
        QListWidgetItem* item = list->item(row);
        QVERIFY(item);
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
        QVERIFY(item->isSelected());
    }

    void clickUser(const QString& name)
    {
        const int row = listLines(users()).indexOf(name);
        QVERIFY2(row >= 0, qPrintable(name));
        clickLine(users(), row);
    }

    void clickAccount(const QString& name)
    {
        const int row = listLines(accounts()).indexOf(name);
        QVERIFY2(row >= 0, qPrintable(name));
        clickLine(accounts(), row);
    }

    // Drives the next new-account dialog: records what it showed, then
    // types a name and a description ('\n' as Return) and saves, or
    // cancels when name is null.
    void nextDialog(DialogRun* run, const QString& name = QString(),
                    const QString& typedDescription = QString())
    {
        onNextModal([=](QDialog* dialog) {
            auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("NameEdit"));
            auto* memo = dialog->findChild<QPlainTextEdit*>(QStringLiteral("DescriptionMemo"));
            run->shown = true;
            run->name = nameEdit->text();
            run->description = memo->toPlainText();
            if (name.isNull()) {
                QTest::mouseClick(dialog->findChild<QPushButton*>("SpeedButton1"), Qt::LeftButton);
                return;
            }
            nameEdit->clear();
            typeText(nameEdit, name);
            memo->clear();
            const QStringList parts = typedDescription.split(QLatin1Char('\n'));
            for (int i = 0; i < parts.size(); ++i) {
                if (i > 0)
                    QTest::keyClick(memo, Qt::Key_Return);
                typeText(memo, parts[i]);
            }
            QTest::mouseClick(dialog->findChild<QPushButton*>("SaveBtn"), Qt::LeftButton);
        });
    }

    void addPendingUser(const QString& name)
    {
        find<QLineEdit>("NameEdit")->setText(name);
        find<QLineEdit>("PPEdit")->setText("pw");
        find<QLineEdit>("DPEdit")->setText("/tmp");
        for (const char* combo : {"ARCombo", "DRCombo", "MRCombo", "AUCombo", "MUCombo", "DUCombo"})
            find<QComboBox>(combo)->setCurrentIndex(1);
        click("AddButton");
        QVERIFY(tableChanged());
        find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));
    }

private slots:
    void init()
    {
        setUp();
        startWith(m_fixture);
    }

    void cleanup()
    {
        dropPendingDialogDrivers();
        tearDown();
    }

    void beforeAnyUserIsClicked()
    {
        QCOMPARE(accounts()->count(), 0);
        QCOMPARE(description(), QString());
        QVERIFY(find<QPushButton>("ModifyAccoBtn")->isEnabled());
        QVERIFY(find<QPushButton>("DelAccoBtn")->isEnabled());

        // With no user selected Modify and Delete do nothing, and New
        // shows the dialog but stores nothing.
        click("ModifyAccoBtn");
        click("DelAccoBtn");
        DialogRun run;
        nextDialog(&run, "Loan", "x");
        click("NewAccoBtn");
        QVERIFY(run.shown);
        QVERIFY(m_window->manager().accountDialog()->Saved());
        QCOMPARE(boxes(), QStringList());
        QCOMPARE(m_dir->read(), m_fixture);
        QCOMPARE(accounts()->count(), 0);
    }

    void accountListOfAUser_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("gap at entry 1") << "admin" << QStringList{"Checking", "Savings"};
        QTest::newRow("no accounts") << "clerk" << QStringList{};
        QTest::newRow("Windows-1252") << Renee
                                      << QStringList{QString::fromUtf8("Gesch\xc3\xa4"
                                                                       "ft")};
    }

    void accountListOfAUser()
    {
        QFETCH(QString, user);
        QFETCH(QStringList, listed);
        clickUser(user);
        QCOMPARE(listLines(accounts()), listed);
        QVERIFY(accounts()->selectedItems().isEmpty());
        QCOMPARE(description(), SelectText);
        QVERIFY(!find<QPushButton>("ModifyAccoBtn")->isEnabled());
        QVERIFY(!find<QPushButton>("DelAccoBtn")->isEnabled());
        QVERIFY(find<QPushButton>("NewAccoBtn")->isEnabled());
    }

    void aPickedAccountShowsItsDescription()
    {
        clickUser("admin");
        clickAccount("Checking");
        QCOMPARE(description(), QStringLiteral("Main account.\nBranch 12"));
        QVERIFY(find<QPushButton>("ModifyAccoBtn")->isEnabled());
        QVERIFY(find<QPushButton>("DelAccoBtn")->isEnabled());
        QTest::keyClick(accounts(), Qt::Key_Down);
        QCOMPARE(description(), QString());
        QTest::keyClick(accounts(), Qt::Key_Up);
        QCOMPARE(description(), QStringLiteral("Main account.\nBranch 12"));

        clickUser(Renee);
        clickAccount(QString::fromUtf8("Gesch\xc3\xa4"
                                       "ft"));
        QCOMPARE(description(), QString::fromUtf8("\xe2\x82\xac account"));
    }

    void everyWayOfPickingAnAccount_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<ListMove>("way");
        // Empty: no line is left selected.
        QTest::addColumn<QString>("picked");
        QTest::addColumn<QString>("shown");

        // admin's lines: Checking 0, Savings 1, Loan 2, Petty 3.
        const QString checking = QStringLiteral("Main account.\nBranch 12");
        const auto row = [](const char* name, const QString& start, const ListMove& way,
                            const QString& picked, const QString& shown) {
            QTest::newRow(name) << start << way << picked << shown;
        };
        row("drag from the selected line", "Checking", drag({0, 2}), "Loan", "Car");
        row("drag from another line", "Checking", drag({1, 3}), "Petty", "Cash box");
        row("drag on and back", "Checking", drag({1, 2, 1}), "Savings", "");
        row("drag up", "Petty", drag({3, 0}), "Checking", checking);
        row("Down", "Checking", key(Qt::Key_Down), "Savings", "");
        row("End", "Checking", key(Qt::Key_End), "Petty", "Cash box");
        row("PageDown", "Checking", key(Qt::Key_PageDown), "Petty", "Cash box");
        row("Home", "Petty", key(Qt::Key_Home), "Checking", checking);
        row("PageUp", "Loan", key(Qt::Key_PageUp), "Checking", checking);
        row("a letter", "Checking", type("l"), "Loan", "Car");
        row("click", "Checking", ::click(3), "Petty", "Cash box");
        row("right click", "Checking", ::click(2, Qt::RightButton), "Loan", "Car");
        row("screen reader", "Checking", screenReader(2), "Loan", "Car");
        row("Ctrl+click on the selected line", "Loan",
            ::click(2, Qt::LeftButton, Qt::ControlModifier), "", SelectText);
        row("Ctrl+Space on the selected line", "Loan", key(Qt::Key_Space, Qt::ControlModifier), "",
            SelectText);
    }

    // However a person moves the account list's selection, the description
    // shown is the selected line's, and Modify and Delete act on that
    // account; with no line selected they are off.
    void everyWayOfPickingAnAccount()
    {
        QFETCH(QString, start);
        QFETCH(ListMove, way);
        QFETCH(QString, picked);
        QFETCH(QString, shown);
        TableSlots table = tableSlots(m_fixture);
        table.setAccount(1, {3, "Loan", "Car"});
        table.setAccount(1, {5, "Petty", "Cash box"});
        startWith(tableBytes(table));
        m_fixture = m_dir->read();
        clickUser("admin");
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings", "Loan", "Petty"}));
        clickAccount(start);

        moveSelection(accounts(), way);
        QCOMPARE(selectedLines(accounts()), picked.isEmpty() ? QStringList() : QStringList{picked});
        QCOMPARE(description(), shown);
        QCOMPARE(find<QPushButton>("ModifyAccoBtn")->isEnabled(), !picked.isEmpty());
        QCOMPARE(find<QPushButton>("DelAccoBtn")->isEnabled(), !picked.isEmpty());
        if (picked.isEmpty())
            return;

        DialogRun run;
        nextDialog(&run);
        click("ModifyAccoBtn");
        QCOMPARE(run.name, picked);
        QCOMPARE(run.description, shown);
        m_scripted->answer(Button::No);
        click("DelAccoBtn");
        QCOMPARE(boxes(),
                 QStringList{"Confirmation YesNo: Are you sure you want to delete your \n" +
                             picked.toUpper() + " account ?"});
        QCOMPARE(m_dir->read(), m_fixture);
    }

    void focusAloneChangesNothing_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("way");
        // start: the account picked first, if any.
        const auto row = [](const char* name, const QString& start, const QString& way) {
            QTest::newRow(name) << start << way;
        };
        row("nothing picked, Tab key into the list", "", "key");
        row("nothing picked, focus for the Tab key", "", "tab reason");
        row("nothing picked, focus for a mouse click", "", "mouse reason");
        row("nothing picked, the window active again", "", "window");
        row("Savings picked, Tab key into the list", "Savings", "key");
        row("Savings picked, the window active again", "Savings", "window");
    }

    // The account list taking the focus picks no account: the description,
    // the buttons and what they act on stay as they were.
    void focusAloneChangesNothing()
    {
        QFETCH(QString, start);
        QFETCH(QString, way);
        clickUser("admin");
        if (!start.isEmpty())
            clickAccount(start);
        // The focus starts outside the account list.
        if (accounts()->hasFocus())
            QTest::keyClick(accounts(), Qt::Key_Tab);
        QVERIFY(!accounts()->hasFocus());
        const auto state = [this] {
            return QStringList{selectedLines(accounts()).join(','), description(),
                               QString::number(find<QPushButton>("ModifyAccoBtn")->isEnabled()),
                               QString::number(find<QPushButton>("DelAccoBtn")->isEnabled())};
        };
        const QStringList before = state();

        if (way == "key") {
            for (int i = 0; i < 40 && !accounts()->hasFocus(); ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } else if (way == "window") {
            accounts()->setFocus(Qt::OtherFocusReason);
            QWidget other;
            QVERIFY(showActive(&other));
            QVERIFY(!accounts()->hasFocus());
            other.close();
            m_window->get()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_window->get()));
        } else {
            accounts()->setFocus(way == "tab reason" ? Qt::TabFocusReason : Qt::MouseFocusReason);
        }
        QVERIFY(accounts()->hasFocus());
        QCOMPARE(state(), before);

        DialogRun run;
        if (!start.isEmpty()) {
            nextDialog(&run);
            click("ModifyAccoBtn");
            QCOMPARE(run.name, start);
        }
        QCOMPARE(boxes(), QStringList());
        QCOMPARE(m_dir->read(), m_fixture);
    }

    void aUserFindUserMissesLeavesThePageAlone()
    {
        clickUser("admin");
        changeBehindThePage([](TableSlots& table) { table.setLoginName(2, "someone"); });
        clickUser("clerk");
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
        QCOMPARE(find<QLabel>("UserNameDisplay")->text(), QStringLiteral("admin"));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("dialogShown");
        QTest::newRow("an eleventh account")
            << "full" << QStringList{"Information Ok: This user already has ten bank accounts."}
            << false;
        QTest::newRow("a listed name in other letter case")
            << "duplicate"
            << QStringList{"Error Ok: The sAVINGS is assigned, please Create another one."} << true;
        QTest::newRow("New, the user has gone") << "new gone" << QStringList{} << true;
        QTest::newRow("Modify, the user has gone") << "modify gone" << QStringList{} << false;
        QTest::newRow("Delete, the user has gone") << "delete gone" << QStringList{} << false;
        QTest::newRow("New, no free entry in the record")
            << "no free entry" << QStringList{internalError("_ALB:0001")} << true;
        QTest::newRow("Delete, no matching entry")
            << "delete mismatch" << QStringList{internalError("_ALB:0002")} << false;
        QTest::newRow("Modify, no matching entry")
            << "modify mismatch" << QStringList{internalError("_ALB:0003")} << false;
    }

    void refusals()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, expected);
        QFETCH(bool, dialogShown);

        if (scenario == "full") {
            TableSlots table = tableSlots(m_fixture);
            for (int i = 0; i < TableSlots::AccountEntries; ++i)
                table.setAccount(2, {i, "A" + std::to_string(i), "d"});
            startWith(tableBytes(table));
            m_fixture = m_dir->read();
            clickUser("clerk");
        } else {
            clickUser("admin");
            clickAccount("Checking");
        }

        // What the page shows no longer agrees with the table.
        changeBehindThePage([&](TableSlots& table) {
            if (scenario.endsWith("gone"))
                table.setLoginName(1, "renamed");
            if (scenario == "no free entry") {
                for (int i = 0; i < TableSlots::AccountEntries; ++i)
                    table.setAccount(1, {i, "A" + std::to_string(i), "d"});
            }
            if (scenario.endsWith("mismatch"))
                table.setAccount(1, {0, "Changed", "d"});
        });
        const QStringList memory = memoryTable();

        DialogRun run;
        nextDialog(&run, scenario == "duplicate" ? "sAVINGS" : "Extra", "text");
        for (int i = 0; i < expected.size(); ++i)
            m_scripted->answer(Button::Ok);
        if (scenario.startsWith("modify"))
            click("ModifyAccoBtn");
        else if (scenario.startsWith("delete"))
            click("DelAccoBtn");
        else
            click("NewAccoBtn");

        QCOMPARE(boxes(), expected);
        QCOMPARE(run.shown, dialogShown);
        QCOMPARE(m_dir->read(), m_fixture);
        QCOMPARE(memoryTable(), memory);
    }

    // A paste brings what the keyboard does not type; the session core
    // refuses a control character, but a pasted line break is a line break.
    void pastedTextsOfANewAccount_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("stored"); // "name=description"; empty when refused
        QTest::newRow("ESC in the name")
            << "Pay\x1b[2J"
            << "x"
            << QStringList{"Error Ok: The account name holds a control character (U+001B at "
                           "character 4): tabs, line breaks, escapes and other control "
                           "characters cannot be stored."}
            << "";
        QTest::newRow("TAB in the description")
            << "Loan"
            << "one\ttwo"
            << QStringList{"Error Ok: The description holds a control character (U+0009 at "
                           "character 4): line breaks are kept, but tabs, escapes and other "
                           "control characters cannot be stored."}
            << "";
        QTest::newRow("line breaks pasted, either kind")
            << "Loan"
            << "one\r\ntwo\nthree" << QStringList{} << "Loan|one\r\ntwo\r\nthree";
    }

    void pastedTextsOfANewAccount()
    {
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(QStringList, expected);
        QFETCH(QString, stored);
        clickUser("admin");
        onNextModal([=](QDialog* dialog) {
            auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("NameEdit"));
            auto* memo = dialog->findChild<QPlainTextEdit*>(QStringLiteral("DescriptionMemo"));
            nameEdit->clear();
            QGuiApplication::clipboard()->setText(name);
            QTest::keyClick(nameEdit, Qt::Key_V, Qt::ControlModifier);
            memo->clear();
            QGuiApplication::clipboard()->setText(description);
            QTest::keyClick(memo, Qt::Key_V, Qt::ControlModifier);
            QTest::mouseClick(dialog->findChild<QPushButton*>("SaveBtn"), Qt::LeftButton);
        });
        for (int i = 0; i < expected.size(); ++i)
            m_scripted->answer(Button::Ok);
        click("NewAccoBtn");
        QCOMPARE(boxes(), expected);
        if (stored.isEmpty()) {
            QCOMPARE(m_dir->read(), m_fixture);
            return;
        }
        const QStringList parts = stored.split(QLatin1Char('|'));
        const std::vector<AccountData> accounts = session().Accounts("admin");
        const int found = findAccount(accounts, parts[0].toStdString());
        QVERIFY(found >= 0);
        QCOMPARE(QString::fromStdString(accounts[static_cast<std::size_t>(found)].description),
                 parts[1]);
    }

    void newFillsTheFirstGap()
    {
        clickUser("admin");
        DialogRun run;
        nextDialog(&run, "Loan", "Car\nloan");
        click("NewAccoBtn");

        QCOMPARE(run.description, QStringLiteral("No description."));
        QCOMPARE(boxes(), QStringList());
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Loan", "Savings"}));
        QCOMPARE(description(), SelectText);
        QCOMPARE(file(), (QStringList{QString(AdminLine).replace("|2:", "|1:Loan=Car\r\nloan|2:"),
                                      ClerkLine, ReneeLine, "-", "-"}));
        QVERIFY(!tableChanged());

        // The next New finds the dialog as Save left it.
        clickUser("clerk");
        nextDialog(&run, "Petty", "");
        click("NewAccoBtn");
        QCOMPARE(run.name, QString());
        QCOMPARE(run.description, QStringLiteral("No Description."));
        QCOMPARE(file().at(1), ClerkLine + "|0:Petty=");
    }

    void cancelThenNewStoresAnEmptyDescription()
    {
        clickUser("admin");
        clickAccount("Checking");
        DialogRun run;
        nextDialog(&run);
        click("NewAccoBtn");
        QVERIFY(run.shown);
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
        QVERIFY(accounts()->selectedItems().isEmpty());
        QCOMPARE(description(), SelectText);
        QCOMPARE(m_dir->read(), m_fixture);

        onNextModal([](QDialog* dialog) {
            typeText(dialog->findChild<QLineEdit*>(QStringLiteral("NameEdit")), "Loan");
            QTest::mouseClick(dialog->findChild<QPushButton*>("SaveBtn"), Qt::LeftButton);
        });
        click("NewAccoBtn");
        QCOMPARE(file().at(0), QString(AdminLine).replace("|2:", "|1:Loan=|2:"));
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Loan", "Savings"}));
    }

    // Modify refuses a name the user has already, letter case ignored, as
    // New does: two accounts of one name would be told apart by nothing.
    void aRenameToANameTheUserHasIsRefused()
    {
        clickUser("admin");
        clickAccount("Savings");
        DialogRun run;
        nextDialog(&run, "CHECKING", "later one");
        m_scripted->answer(Button::Ok);
        click("ModifyAccoBtn");
        QCOMPARE(run.name, QStringLiteral("Savings"));
        QCOMPARE(boxes(),
                 QStringList{"Error Ok: The CHECKING is assigned, please Create another one."});
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
        QCOMPARE(m_dir->read(), m_fixture);
    }

    // A table made elsewhere may hold two accounts of one name: each line is
    // its own account, shown, changed and deleted by its own entry.
    void twoAccountsOfOneNameAreEachTheirOwnLine()
    {
        TableSlots table = tableSlots(m_fixture);
        table.setAccount(1, {2, "CHECKING", "second"});
        startWith(tableBytes(table));
        m_fixture = m_dir->read();
        clickUser("admin");
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "CHECKING"}));
        clickLine(accounts(), 1);
        QCOMPARE(description(), QStringLiteral("second"));
        clickLine(accounts(), 0);
        QCOMPARE(description(), QStringLiteral("Main account.\nBranch 12"));

        clickLine(accounts(), 1);
        DialogRun run;
        nextDialog(&run, "CHECKING", "changed");
        click("ModifyAccoBtn");
        QCOMPARE(run.description, QStringLiteral("second"));
        QCOMPARE(boxes(), QStringList());
        QCOMPARE(file().at(0), QString(AdminLine).replace("|2:Savings=", "|2:CHECKING=changed"));

        clickLine(accounts(), 1);
        m_scripted->answer(Button::Yes);
        click("DelAccoBtn");
        QCOMPARE(file().at(0), QString(AdminLine).replace("|2:Savings=", ""));
        QCOMPARE(listLines(accounts()), QStringList{"Checking"});
    }

    // Someone else deleted the account picked and added another, which
    // took its entry: the change is not made over the other, and the page
    // shows the file's accounts.
    void anAccountGoneIsNotChangedInItsPlace_data()
    {
        QTest::addColumn<bool>("modify");
        QTest::newRow("Delete") << false;
        QTest::newRow("Modify") << true;
    }

    void anAccountGoneIsNotChangedInItsPlace()
    {
        QFETCH(bool, modify);
        clickUser("admin");
        clickAccount("Savings");
        TableSlots table = tableSlots(m_dir->read());
        table.setAccount(1, {2, "New", "theirs"});
        m_dir->write(tableBytes(table));
        const QByteArray theirs = m_dir->read();

        DialogRun run;
        if (modify)
            nextDialog(&run, "Savings", "mine");
        else
            m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click(modify ? "ModifyAccoBtn" : "DelAccoBtn");
        QCOMPARE(boxes().last(),
                 QStringLiteral("Error Ok: The bank account Savings of admin is no longer in "
                                "Gatekeep.acl: someone else deleted or renamed it meanwhile, and "
                                "the account New stands in its place now. Nothing was changed."));
        QCOMPARE(m_dir->read(), theirs);
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "New"}));
    }

    void modifyShowsTheStoredTexts()
    {
        clickUser("admin");
        clickAccount("Checking");
        DialogRun run;
        nextDialog(&run, "Checking", "Main account.\nBranch 14");
        click("ModifyAccoBtn");
        QCOMPARE(run.name, QStringLiteral("Checking"));
        QCOMPARE(run.description, QStringLiteral("Main account.\nBranch 12"));
        QCOMPARE(file().at(0), QString(AdminLine).replace("Branch 12", "Branch 14"));
    }

    void cancellingModifyKeepsThePage()
    {
        clickUser("admin");
        clickAccount("Checking");
        DialogRun run;
        nextDialog(&run);
        click("ModifyAccoBtn");
        QVERIFY(run.shown);
        QCOMPARE(accounts()->currentItem()->text(), QStringLiteral("Checking"));
        QVERIFY(accounts()->currentItem()->isSelected());
        QCOMPARE(description(), QStringLiteral("Main account.\nBranch 12"));
        QCOMPARE(m_dir->read(), m_fixture);
    }

    void deleteAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Yes") << int(Button::Yes);
        QTest::newRow("No") << int(Button::No);
        QTest::newRow("closed without an answer") << int(Button::Cancel);
    }

    void deleteAsksFirst()
    {
        QFETCH(int, answer);
        clickUser("admin");
        clickAccount("Checking");
        m_scripted->answer(Button(answer));
        click("DelAccoBtn");
        QCOMPARE(boxes(), QStringList{"Confirmation YesNo: Are you sure you want to delete your "
                                      "\nCHECKING account ?"});

        QByteArray expected = m_fixture;
        if (answer == int(Button::Yes)) {
            // Only the two length bytes of entry 0 of slot 1.
            expected[281] = 0;
            expected[281 + 31] = 0;
            QCOMPARE(listLines(accounts()), QStringList{"Savings"});
            QCOMPARE(description(), SelectText);
        } else {
            QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
            QCOMPARE(description(), QStringLiteral("Main account.\nBranch 12"));
        }
        QCOMPARE(m_dir->read(), expected);
    }

    void aDeletedEntryIsTheNextNewOne()
    {
        clickUser("admin");
        clickAccount("Checking");
        m_scripted->answer(Button::Yes);
        click("DelAccoBtn");
        DialogRun run;
        nextDialog(&run, "First", "again");
        click("NewAccoBtn");
        QCOMPARE(listLines(accounts()), (QStringList{"First", "Savings"}));
        QCOMPARE(
            file().at(0),
            QStringLiteral("admin|secret|C:\\Larkledger\\Data|000000|0:First=again|2:Savings="));
    }

    // A failed save leaves memory as the file is: the account is nowhere,
    // and the same New once the file can be written stores it once.
    void aFailedSaveLeavesNothingBehind()
    {
        clickUser("admin");
        const QStringList memory = memoryTable();
        // A directory in the table's place: no save can succeed.
        QVERIFY(QFile::rename(m_dir->path() + "/Gatekeep.acl", m_dir->path() + "/kept.acl"));
        QVERIFY(QDir(m_dir->path()).mkdir("Gatekeep.acl"));
        DialogRun run;
        nextDialog(&run, "Loan", "x");
        m_scripted->answer(Button::Ok);
        click("NewAccoBtn");
        QCOMPARE(m_scripted->shown.size(), 1);
        QCOMPARE(m_scripted->shown[0].kind, MessageBox::Kind::Error);
        QCOMPARE(m_scripted->shown[0].title, QStringLiteral("Larkledger Security Manager"));
        QCOMPARE(m_scripted->shown[0].text, QStringLiteral("File access denied."));
        // Neither the shown accounts nor the list were reloaded.
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
        QCOMPARE(memoryTable(), memory);
        QVERIFY(!tableChanged());

        QVERIFY(QDir(m_dir->path()).rmdir("Gatekeep.acl"));
        QVERIFY(QFile::rename(m_dir->path() + "/kept.acl", m_dir->path() + "/Gatekeep.acl"));
        nextDialog(&run, "Loan", "x");
        click("NewAccoBtn");
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Loan", "Savings"}));
        QCOMPARE(file(), memoryTable());
        QCOMPARE(m_scripted->shown.size(), 1);
    }

    void everyChangeIsWrittenAtOnceWithPendingUsers()
    {
        addPendingUser("temp");
        const QString temp = QStringLiteral("temp|pw|/tmp|111111");

        clickUser("clerk");
        DialogRun run;
        nextDialog(&run, "Petty", "cash");
        click("NewAccoBtn");
        QCOMPARE(file(),
                 (QStringList{AdminLine, ClerkLine + "|0:Petty=cash", ReneeLine, temp, "-"}));
        // The account change writes the pending add but leaves the flag.
        QVERIFY(tableChanged());

        clickAccount("Petty");
        nextDialog(&run, "Petty cash", "box");
        click("ModifyAccoBtn");
        QCOMPARE(file().at(1), ClerkLine + "|0:Petty cash=box");

        clickAccount("Petty cash");
        m_scripted->answer(Button::Yes);
        click("DelAccoBtn");
        QCOMPARE(file(), (QStringList{AdminLine, ClerkLine, ReneeLine, temp, "-"}));
        QCOMPARE(accounts()->count(), 0);
        QVERIFY(tableChanged());
    }
};

QTEST_MAIN(BankAccountPageTest)
#include "BankAccountPageTest.moc"
