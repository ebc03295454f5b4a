#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "app/SecurityManager.h"
#include "support/Controls.h"
#include "support/Keyboard.h"
#include "support/ListPicks.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedUi.h"
#include "support/TableFile.h"
#include "support/ThreeUsers.h"
#include "support/WindowText.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>

#include <functional>

using Button = MessageBox::Button;

namespace {

// The three sheets in the order the window was designed with, and their tabs.
const QStringList Sheets{"UserInfoSheet", "ActionSheet", "UserBankAccountInfoSheet"};
const QStringList Titles{"User Details", "User Editor", "Bank Account"};

// Controls that live on each sheet; none of them may be found in the window
// once their sheet has been withdrawn.
const QList<QStringList> ControlsOfSheets{
    {"Label13", "UserNameDisplay", "DataPathLabel", "AddUsersDisplay"},
    {"NameEdit", "PPEdit", "DPEdit", "BrowseBtn", "ARCombo", "DUCombo", "SaveChangeButton"},
    {"BankAccountPage", "AccoTypeListBox", "NewAccoBtn", "DelAccoBtn", "DescriptionLabel"}};

const QString SelectText = QStringLiteral("Select an account to see the description.");

QStringList inDesignOrder(const QSet<QString>& sheets)
{
    QStringList ordered;
    for (const QString& sheet : Sheets) {
        if (sheets.contains(sheet))
            ordered.append(sheet);
    }
    return ordered;
}

QStringList titlesOf(const QStringList& sheets)
{
    QStringList titles;
    for (const QString& sheet : sheets)
        titles.append(Titles[Sheets.indexOf(sheet)]);
    return titles;
}

QStringList controlsOf(const QStringList& sheets)
{
    QStringList controls;
    for (const QString& sheet : sheets)
        controls += ControlsOfSheets[Sheets.indexOf(sheet)];
    return controls;
}

// Every sheet shown anywhere, in the window or as a window of its own: a
// withdrawn sheet that came back to the screen shows up here too.
QSet<QString> sheetsOnScreen()
{
    QSet<QString> shown;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (Sheets.contains(widget->objectName()) && widget->isVisible())
            shown.insert(widget->objectName());
    }
    return shown;
}

void sendWheel(QWidget* widget, const QPoint& at, int angle)
{
    QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

// What a screen reader can learn of the window: the names of its page tabs,
// and the objectNames of every widget in its accessibility tree.
void walkAccessibleTree(QAccessibleInterface* node, QStringList& pageTabs, QSet<QString>& widgets)
{
    if (!node || !node->isValid())
        return;
    if (node->role() == QAccessible::PageTab)
        pageTabs.append(node->text(QAccessible::Name));
    if (QObject* object = node->object())
        widgets.insert(object->objectName());
    for (int i = 0; i < node->childCount(); ++i)
        walkAccessibleTree(node->child(i), pageTabs, widgets);
}

// What the new-account dialog showed, when it came.
struct DialogRun
{
    bool shown = false;
};

} // namespace

class PageReachTest : public QObject, private MainWindowFixture
{
    Q_OBJECT

private:
    QTabWidget* pages() const { return find<QTabWidget>("UserPages"); }
    QTabBar* tabBar() const { return pages()->tabBar(); }
    QListWidget* accounts() const { return find<QListWidget>("AccoTypeListBox"); }
    QString description() const { return find<QPlainTextEdit>("DescriptionLabel")->toPlainText(); }
    QString shownText(const char* label) const { return find<QLabel>(label)->text(); }

    // A fourth user, "probe", with only the given user rights (the record
    // rights are the opposite, so a mix-up between the two shows), beside
    // the fixture's three; signed in, the window shown and active.
    void signInProbe(bool addUsers, bool deleteUsers, bool modifyUsers)
    {
        QString rights;
        for (const bool granted :
             {!deleteUsers, deleteUsers, !modifyUsers, modifyUsers, !addUsers, addUsers})
            rights += QLatin1Char(granted ? '0' : '1');
        TableSlots table = tableSlots(m_fixture);
        table.freeSlot(4);
        table.setUser(4, "probe", "pw", "/srv/probe", rights.toStdString());
        m_dir->write(tableBytes(table));
        m_fixture = m_dir->read();
        signIn("probe", "pw");
        if (QTest::currentTestFailed())
            return;
        QVERIFY(QTest::qWaitForWindowActive(m_window->get()));
        QCOMPARE(listLines(users()).last(), QStringLiteral("probe"));
    }

    // The accounts of the fixture's users, as the Bank Account sheet lists them.
    static QStringList listedAccounts(const QString& user)
    {
        if (user == QLatin1String("admin"))
            return {"Checking", "Savings"};
        if (user == Renee)
            return {QString::fromUtf8("Gesch\xc3\xa4"
                                      "ft")};
        return {};
    }

    void signInAdmin()
    {
        signIn();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(QTest::qWaitForWindowActive(m_window->get()));
    }

    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    void clickLine(QListWidget* list, const QString& text)
    {
        const int row = listLines(list).indexOf(text);
        QVERIFY2(row >= 0, qPrintable(text));
        QListWidgetItem* item = list->item(row);
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
        QVERIFY(item->isSelected());
    }

    void clickTab(const QString& title)
    {
        const int index = Titles.indexOf(title);
        QVERIFY(index >= 0 && pages()->tabText(index) == title);
        QTest::mouseClick(tabBar(), Qt::LeftButton, {}, tabBar()->tabRect(index).center());
        QCOMPARE(pages()->currentIndex(), index);
    }

    // Each way a person brings a sheet to the front, tried over and over;
    // the sheets that came to the front on the way.
    QStringList reachedByKeys()
    {
        QSet<QString> reached = sheetsOnScreen();
        const QList<QPair<Qt::Key, Qt::KeyboardModifiers>> keys{
            {Qt::Key_Tab, Qt::ControlModifier},
            {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier},
            {Qt::Key_PageDown, Qt::ControlModifier},
            {Qt::Key_PageUp, Qt::ControlModifier}};
        for (const auto& [key, modifiers] : keys) {
            for (int i = 0; i < 4; ++i) {
                QTest::keyClick(pages(), key, modifiers);
                reached += sheetsOnScreen();
            }
        }
        // The tab bar itself, once it has the focus, takes the arrow keys.
        tabBar()->setFocus(Qt::TabFocusReason);
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down}) {
            for (int i = 0; i < 4; ++i) {
                QTest::keyClick(tabBar(), key);
                reached += sheetsOnScreen();
            }
        }
        return inDesignOrder(reached);
    }

    QStringList reachedByWheel()
    {
        QSet<QString> reached = sheetsOnScreen();
        const QPoint over = tabBar()->rect().center();
        for (const int angle : {-120, 120}) {
            for (int i = 0; i < 4; ++i) {
                sendWheel(tabBar(), over, angle);
                reached += sheetsOnScreen();
            }
        }
        return inDesignOrder(reached);
    }

    // Clicks down the whole strip of tabs, where a withdrawn tab could sit.
    QStringList reachedByMouse()
    {
        QSet<QString> reached = sheetsOnScreen();
        const QRect strip = pages()->rect();
        for (int y = strip.top() + 2; y < strip.bottom(); y += 4) {
            const QPoint at(tabBar()->geometry().center().x(), y);
            QWidget* under = pages()->childAt(at);
            QTest::mouseClick(under ? under : pages(), Qt::LeftButton, {},
                              under ? under->mapFrom(pages(), at) : at);
            reached += sheetsOnScreen();
        }
        return inDesignOrder(reached);
    }

    QStringList reachedByAccessiblePress()
    {
        QSet<QString> reached = sheetsOnScreen();
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabBar());
        if (!bar)
            return {QStringLiteral("no accessible tab bar")};
        for (int i = 0; i < bar->childCount(); ++i) {
            QAccessibleInterface* tab = bar->child(i);
            if (!tab || tab->role() != QAccessible::PageTab)
                continue;
            QAccessibleActionInterface* action = tab->actionInterface();
            if (!action ||
                !action->actionNames().contains(QAccessibleActionInterface::pressAction()))
                return {QStringLiteral("a page tab without press")};
            action->doAction(QAccessibleActionInterface::pressAction());
            reached += sheetsOnScreen();
        }
        return inDesignOrder(reached);
    }

    // Gives up Renée, the pick of the user list, with Delete and Yes; her
    // details and accounts stay on show.
    void deleteRenee()
    {
        clickTab("Bank Account");
        clickLine(users(), Renee);
        QCOMPARE(listLines(accounts()), QStringList{QString::fromUtf8("Gesch\xc3\xa4"
                                                                      "ft")});
        m_scripted->answer(Button::Yes);
        click("DeleteButton");
        QCOMPARE(listLines(users()), (QStringList{"admin", "clerk"}));
        QVERIFY(users()->selectedItems().isEmpty());
    }

    void expectReneeStillShown()
    {
        QCOMPARE(shownText("UserNameDisplay"), Renee);
        QCOMPARE(shownText("UserPPDisplay"), QStringLiteral("Hidden"));
        QCOMPARE(shownText("DataPathLabel"), QStringLiteral("D:\\Daten"));
        QCOMPARE(shownText("AddUsersDisplay"), QStringLiteral("FALSE"));
        QCOMPARE(listLines(accounts()), QStringList{QString::fromUtf8("Gesch\xc3\xa4"
                                                                      "ft")});
        QVERIFY(users()->selectedItems().isEmpty());
    }

private slots:
    void init()
    {
        QAccessible::setActive(true);
        setUp();
    }

    void cleanup()
    {
        dropPendingDialogDrivers();
        tearDown();
    }

    void pagesOutOfReach_data()
    {
        QTest::addColumn<bool>("addUsers");
        QTest::addColumn<bool>("deleteUsers");
        QTest::addColumn<bool>("modifyUsers");
        QTest::addColumn<QStringList>("sheets");

        const QStringList details{"UserInfoSheet"}, editor{"ActionSheet"};
        const QStringList detailsAndEditor{"UserInfoSheet", "ActionSheet"};
        QTest::newRow("no rights") << false << false << false << QStringList{};
        QTest::newRow("add") << true << false << false << editor;
        QTest::newRow("delete") << false << true << false << details;
        QTest::newRow("modify") << false << false << true << detailsAndEditor;
        QTest::newRow("add, delete") << true << true << false << detailsAndEditor;
        QTest::newRow("add, modify") << true << false << true << detailsAndEditor;
        QTest::newRow("delete, modify") << false << true << true << Sheets;
        QTest::newRow("all") << true << true << true << Sheets;
    }

    // A sheet the signed-in user may not use comes to the front by no
    // means, and a screen reader learns nothing of it.
    void pagesOutOfReach()
    {
        QFETCH(bool, addUsers);
        QFETCH(bool, deleteUsers);
        QFETCH(bool, modifyUsers);
        QFETCH(QStringList, sheets);
        signInProbe(addUsers, deleteUsers, modifyUsers);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(reachedByKeys(), sheets);
        QCOMPARE(reachedByWheel(), sheets);
        QCOMPARE(reachedByMouse(), sheets);
        QCOMPARE(reachedByAccessiblePress(), sheets);

        QStringList pageTabs;
        QSet<QString> inTree;
        walkAccessibleTree(QAccessible::queryAccessibleInterface(m_window->get()), pageTabs,
                           inTree);
        QCOMPARE(pageTabs, titlesOf(sheets));
        QCOMPARE(inDesignOrder(inTree), sheets);
        QStringList controlsInTree;
        for (const QString& control : controlsOf(Sheets)) {
            if (inTree.contains(control))
                controlsInTree.append(control);
        }
        QCOMPARE(controlsInTree, controlsOf(sheets));

        QStringList found;
        for (const QString& control : controlsOf(Sheets)) {
            if (m_window->get()->findChild<QWidget*>(control))
                found.append(control);
        }
        QCOMPARE(found, controlsOf(sheets));
        QCOMPARE(boxes(), QStringList());
    }

    // Without DeleteUsers the accounts are out of reach in the window, and
    // the session refuses an account change asked of it directly.
    void clerkCannotChangeAccounts()
    {
        signIn("clerk", "Pa55w0rd");
        if (QTest::currentTestFailed())
            return;
        for (const char* name : {"UserBankAccountInfoSheet", "BankAccountPage", "AccoTypeListBox"})
            QVERIFY2(!m_window->get()->findChild<QWidget*>(QLatin1String(name)), name);
        QStringList tabs;
        for (int i = 0; i < pages()->count(); ++i)
            tabs.append(pages()->tabText(i));
        QCOMPARE(tabs, (QStringList{"User Details", "User Editor"}));

        AccountData loan;
        loan.name = "Loan";
        loan.description = "x";
        AccountData first = loan;
        first.entry = 0;
        const QList<std::function<ChangeResult()>> changes{
            [&] { return session().addAccount("clerk", loan); },
            [&] { return session().addAccount("admin", loan); },
            [&] { return session().modifyAccount("admin", first); },
            [&] { return session().deleteAccount("admin", 0); }};
        for (const auto& change : changes) {
            const ChangeResult result = change();
            QCOMPARE(result.outcome, ChangeResult::Outcome::Refused);
            QCOMPARE(result.reason, ChangeResult::Reason::MissingRight);
        }
        QCOMPARE(m_dir->read(), m_fixture);
        QCOMPARE(memoryTable(), decodeTable(m_fixture));
        QVERIFY(!tableChanged());
        QCOMPARE(boxes(), QStringList());
    }

    void focusAloneLoadsNoUser_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("click on a page tab") << "tab";
        QTest::newRow("click on the group's caption") << "caption";
        QTest::newRow("click in the list below the lines") << "below the lines";
        QTest::newRow("Tab key into the list") << "key";
        QTest::newRow("focus for the Tab key") << "tab reason";
        QTest::newRow("focus for a mouse click") << "mouse reason";
        QTest::newRow("the window active again") << "window";
    }

    // After a deletion nobody is selected; the list taking the focus loads
    // nobody, so the details and accounts of the deleted user stay on show
    // and New on the accounts has no user to store for.
    void focusAloneLoadsNoUser()
    {
        QFETCH(QString, way);
        signInAdmin();
        if (QTest::currentTestFailed())
            return;
        deleteRenee();
        if (QTest::currentTestFailed())
            return;

        // The list keeps the focus through the deletion (the buttons take
        // none); the ways that bring the focus back start elsewhere.
        QVERIFY(users()->hasFocus());
        if (way == "tab") {
            clickTab("User Details");
            clickTab("Bank Account");
        } else if (way == "caption") {
            QTest::mouseClick(find<QGroupBox>("GroupBox"), Qt::LeftButton, {}, QPoint(40, 6));
        } else if (way == "below the lines") {
            const QRect last = users()->visualItemRect(users()->item(users()->count() - 1));
            QTest::mouseClick(users()->viewport(), Qt::LeftButton, {},
                              QPoint(last.center().x(), last.bottom() + 20));
        } else if (way == "key") {
            QTest::keyClick(users(), Qt::Key_Tab);
            QVERIFY(!users()->hasFocus());
            for (int i = 0; i < 40 && !users()->hasFocus(); ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(users()->hasFocus());
        } else if (way == "window") {
            QWidget other;
            QVERIFY(showActive(&other));
            QVERIFY(!users()->hasFocus());
            other.close();
            m_window->get()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_window->get()));
            QVERIFY(users()->hasFocus());
        } else {
            accounts()->setFocus(Qt::OtherFocusReason);
            QVERIFY(accounts()->hasFocus());
            users()->setFocus(way == "tab reason" ? Qt::TabFocusReason : Qt::MouseFocusReason);
            QVERIFY(users()->hasFocus());
        }
        expectReneeStillShown();

        if (pages()->currentWidget() != find<QWidget>("UserBankAccountInfoSheet"))
            clickTab("Bank Account");
        DialogRun run;
        onNextModal([&run](QDialog* dialog) {
            run.shown = true;
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("NameEdit"));
            name->clear();
            typeText(name, QStringLiteral("Loan"));
            QTest::mouseClick(dialog->findChild<QPushButton*>("SaveBtn"), Qt::LeftButton);
        });
        QTest::mouseClick(find<QPushButton>("NewAccoBtn"), Qt::LeftButton);
        QVERIFY(run.shown);
        QVERIFY(m_window->manager().accountDialog()->Saved());
        QCOMPARE(boxes(), QStringList{"Confirmation YesNo: Do you really want to DELETE user " +
                                      Renee + " ?"});
        QCOMPARE(m_dir->read(), m_fixture);
        QCOMPARE(memoryTable(), (QStringList{AdminLine, ClerkLine, "-", "-", "-"}));
        expectReneeStillShown();
    }

    void everyWayOfPickingLoadsTheUser_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<ListMove>("way");
        QTest::addColumn<QString>("picked");
        // The picked user's record once New has added the account.
        QTest::addColumn<QString>("stored");
        // How often a user was loaded on the way: once for each line the
        // selection moved to, no more.
        QTest::addColumn<int>("loads");

        // Lines: admin 0, clerk 1, Renée 2. New adds the first account of
        // the user picked before, which that user's list would refuse.
        const QString clerkChecking = ClerkLine + "|0:Checking=x";
        const QString reneeChecking = ReneeLine + "|1:Checking=x";
        const QString adminGeschaeft =
            QString(AdminLine).replace("|2:", QString::fromUtf8("|1:Gesch\xc3\xa4"
                                                                "ft=x|2:"));
        const auto row = [](const char* name, const QString& start, const ListMove& way,
                            const QString& picked, const QString& stored, int loads) {
            QTest::newRow(name) << start << way << picked << stored << loads;
        };
        row("drag from the selected line", "admin", drag({0, 1}), "clerk", clerkChecking, 1);
        row("drag from another line", "admin", drag({1, 2}), Renee, reneeChecking, 2);
        row("drag on and back", "admin", drag({1, 2, 1}), "clerk", clerkChecking, 3);
        row("drag up", Renee, drag({2, 0}), "admin", adminGeschaeft, 1);
        row("Down", "admin", key(Qt::Key_Down), "clerk", clerkChecking, 1);
        row("End", "admin", key(Qt::Key_End), Renee, reneeChecking, 1);
        row("PageDown", "admin", key(Qt::Key_PageDown), Renee, reneeChecking, 1);
        row("Home", Renee, key(Qt::Key_Home), "admin", adminGeschaeft, 1);
        row("PageUp", Renee, key(Qt::Key_PageUp), "admin", adminGeschaeft, 1);
        row("a letter", "admin", type("c"), "clerk", clerkChecking, 1);
        row("click", "admin", ::click(2), Renee, reneeChecking, 1);
        row("right click", "admin", ::click(1, Qt::RightButton), "clerk", clerkChecking, 1);
        row("screen reader", "admin", screenReader(2), Renee, reneeChecking, 1);
    }

    // However a person moves the selection, the details and the accounts
    // shown are the selected user's, and New adds to that user's accounts
    // after looking for the name in that user's list.
    void everyWayOfPickingLoadsTheUser()
    {
        QFETCH(QString, start);
        QFETCH(ListMove, way);
        QFETCH(QString, picked);
        QFETCH(QString, stored);
        QFETCH(int, loads);
        signInAdmin();
        if (QTest::currentTestFailed())
            return;
        clickTab("Bank Account");
        clickLine(users(), start);
        const QString earlierAccount = listLines(accounts()).value(0);

        QSignalSpy loaded(m_window->get(), &TMainForm::userPicked);
        moveSelection(users(), way);
        QCOMPARE(loaded.size(), loads);
        QCOMPARE(selectedLines(users()), QStringList{picked});
        QCOMPARE(shownText("UserNameDisplay"), picked);
        QCOMPARE(listLines(accounts()), listedAccounts(picked));
        QCOMPARE(description(), SelectText);

        onNextModal([&earlierAccount](QDialog* dialog) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("NameEdit"));
            name->clear();
            typeText(name, earlierAccount);
            auto* memo = dialog->findChild<QPlainTextEdit*>(QStringLiteral("DescriptionMemo"));
            memo->clear();
            typeText(memo, QStringLiteral("x"));
            QTest::mouseClick(dialog->findChild<QPushButton*>("SaveBtn"), Qt::LeftButton);
        });
        click("NewAccoBtn");
        QCOMPARE(boxes(), QStringList());
        QStringList expected = decodeTable(m_fixture);
        expected[listLines(users()).indexOf(picked)] = stored;
        QCOMPARE(decodeTable(m_dir->read()), expected);
        QVERIFY(listLines(accounts()).contains(earlierAccount));
        QCOMPARE(shownText("UserNameDisplay"), picked);
    }

    // Each line a drag passes over is loaded as it is reached.
    void aDragLoadsEachLineItCrosses()
    {
        signInAdmin();
        if (QTest::currentTestFailed())
            return;
        // The user shown and the accounts listed at each step, compared once
        // the button is up again.
        QStringList steps;
        const auto shown = [&] {
            steps.append(shownText("UserNameDisplay") + ": " + listLines(accounts()).join(", "));
        };
        pressOnLine(users(), 0);
        shown();
        for (const int row : {1, 2, 1}) {
            moveHeldOver(users(), row);
            shown();
        }
        releaseOnLine(users(), 1);
        shown();
        const QString clerk = QStringLiteral("clerk: ");
        QCOMPARE(steps, (QStringList{"admin: Checking, Savings", clerk,
                                     Renee + QString::fromUtf8(": Gesch\xc3\xa4"
                                                               "ft"),
                                     clerk, clerk}));
        QCOMPARE(selectedLines(users()), QStringList{"clerk"});
    }

    // Arrow keys on the list are a person's pick: each loads the user the
    // selection lands on.
    void arrowKeysLoadTheUserTheyLandOn()
    {
        signInAdmin();
        if (QTest::currentTestFailed())
            return;
        deleteRenee();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(users()->hasFocus());

        // With no line current, Down lands on the first.
        QTest::keyClick(users(), Qt::Key_Down);
        QCOMPARE(users()->selectedItems().size(), 1);
        QCOMPARE(users()->selectedItems().first()->text(), QStringLiteral("admin"));
        QCOMPARE(shownText("UserNameDisplay"), QStringLiteral("admin"));
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));

        QTest::keyClick(users(), Qt::Key_Down);
        QCOMPARE(shownText("UserNameDisplay"), QStringLiteral("clerk"));
        QCOMPARE(shownText("DataPathLabel"), QStringLiteral("/srv/ledger"));
        QCOMPARE(listLines(accounts()), QStringList());

        QTest::keyClick(users(), Qt::Key_Up);
        QCOMPARE(users()->selectedItems().first()->text(), QStringLiteral("admin"));
        QCOMPARE(shownText("UserNameDisplay"), QStringLiteral("admin"));
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
        QCOMPARE(boxes().size(), 1);
    }

    // A click on the line already selected picks its user again: the
    // account list is shown afresh with no account picked.
    void clickOnTheSelectedLineRefreshes()
    {
        signInAdmin();
        if (QTest::currentTestFailed())
            return;
        clickTab("Bank Account");
        clickLine(users(), "admin");
        clickLine(accounts(), "Checking");
        QVERIFY(description().startsWith(QStringLiteral("Main account.")));

        clickLine(users(), "admin");
        QCOMPARE(description(), SelectText);
        QVERIFY(accounts()->selectedItems().isEmpty());
        QCOMPARE(listLines(accounts()), (QStringList{"Checking", "Savings"}));
        QVERIFY(!find<QPushButton>("ModifyAccoBtn")->isEnabled());
        QCOMPARE(shownText("UserNameDisplay"), QStringLiteral("admin"));
    }
};

QTEST_MAIN(PageReachTest)
#include "PageReachTest.moc"
