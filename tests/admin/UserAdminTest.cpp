#include "admin/MainForm.h"
#include "support/Keyboard.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedUi.h"
#include "support/SignedInMainForm.h"
#include "support/TableFile.h"
#include "support/TempWorkDir.h"
#include "support/ThreeUsers.h"
#include "support/WindowText.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <memory>

using Button = MessageBox::Button;

namespace {

// The editor's combo boxes by the right they hold, in record order.
const char* const RightCombos[] = {"DRCombo", "DUCombo", "MRCombo",
                                   "MUCombo", "ARCombo", "AUCombo"};

} // namespace

class UserAdminTest : public QObject, private MainWindowFixture
{
    Q_OBJECT

private:
    QLineEdit* edit(const char* name) const { return find<QLineEdit>(name); }
    QComboBox* combo(const char* name) const { return find<QComboBox>(name); }
    QString text(const char* label) const { return find<QLabel>(label)->text(); }
    QPushButton* saveChangeButton() const { return find<QPushButton>("SaveChangeButton"); }
    // Shown on its sheet, whichever sheet is in front.
    bool saveChangeShown() const { return !saveChangeButton()->isHidden(); }

    void startWith(const QByteArray& table)
    {
        m_dir->write(table);
        signIn();
    }

    void click(const char* button)
    {
        QTest::mouseClick(find<QAbstractButton>(button), Qt::LeftButton);
    }

    void clickUser(const QString& name)
    {
        const QList<QListWidgetItem*> items = users()->findItems(name, Qt::MatchExactly);
        QVERIFY2(!items.isEmpty(), qPrintable(name));
        users()->scrollToItem(items.first());
        QTest::mouseClick(users()->viewport(), Qt::LeftButton, {},
                          users()->visualItemRect(items.first()).center());
        QVERIFY(items.first()->isSelected());
    }

    // Picks a combo entry as the user does, with the keys.
    void pick(QComboBox* box, int index)
    {
        while (box->currentIndex() < index)
            QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > index)
            QTest::keyClick(box, Qt::Key_Up);
    }

    void replaceText(QLineEdit* box, const QString& text)
    {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        typeText(box, text);
    }

    // rights: six flags in record order, "0" True, "1" False, "-" unpicked.
    void fillEditor(const QString& name, const QString& password, const QString& path,
                    const QString& rights)
    {
        replaceText(edit("NameEdit"), name);
        replaceText(edit("PPEdit"), password);
        replaceText(edit("DPEdit"), path);
        for (int i = 0; i < 6; ++i) {
            if (rights[i] != QLatin1Char('-'))
                pick(combo(RightCombos[i]), rights[i] == QLatin1Char('0') ? 0 : 1);
        }
    }

    QStringList editorState() const
    {
        QStringList state{edit("NameEdit")->text(), edit("PPEdit")->text(), edit("DPEdit")->text()};
        for (const char* name : RightCombos)
            state.append(QString::number(combo(name)->currentIndex()));
        return state;
    }

    void addUser(const QString& name, const QString& password = QStringLiteral("pw"),
                 const QString& rights = QStringLiteral("111111"))
    {
        fillEditor(name, password, QStringLiteral("/data"), rights);
        click("AddButton");
    }

    void deleteUser(const QString& name)
    {
        clickUser(name);
        m_scripted->answer(Button::Yes);
        click("DeleteButton");
    }

    const QString m_ownDeletion = QStringLiteral(
        "Warning Ok: You have deleted your own login ID admin. Once the table is saved (on "
        "leaving, or with the next change written at once), you are signed out: nothing more "
        "can be changed until you sign in as another user.");

private slots:
    void init()
    {
        setUp();
        signIn();
    }

    // Someone else deletes the signed-in user and adds a new one of that
    // name with every right: the window gains nothing from it, is told in
    // words that it is signed out, and is left with Exit alone.
    void aNewUserOfMyNameIsNotMe_data()
    {
        QTest::addColumn<bool>("readded");
        QTest::newRow("deleted") << false;
        QTest::newRow("deleted and added anew") << true;
    }

    void aNewUserOfMyNameIsNotMe()
    {
        QFETCH(bool, readded);
        signIn("clerk", "Pa55w0rd");
        QVERIFY(!find<QPushButton>("AddButton")->isEnabled());
        TableSlots table = tableSlots(m_dir->read());
        if (readded) {
            UserData clerk = *table.user(2);
            clerk.password = "new";
            clerk.rights = Rights::all();
            table.setUser(2, clerk);
        } else {
            table.removeSlot(2);
        }
        m_dir->write(tableBytes(table));
        const QByteArray theirs = m_dir->read();

        clickUser("admin");
        click("ModifyButton");
        edit("DPEdit")->setText(QStringLiteral("/elsewhere"));
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click("SaveChangeButton");
        QCOMPARE(boxes(),
                 (QStringList{"Confirmation YesNo: Do you want to save the changes?",
                              "Warning Ok: Your login ID clerk is no longer in Gatekeep.acl as "
                              "you signed in (someone else deleted it, renamed it or gave it "
                              "another password): you are signed out, and nothing more can be "
                              "changed until you sign in again.\nThis window can neither change "
                              "nor save anything more: changes not saved are lost. Only Exit is "
                              "left."}));
        QCOMPARE(m_dir->read(), theirs);
        for (const char* button : {"AddButton", "DeleteButton", "ModifyButton"})
            QVERIFY2(!find<QPushButton>(button)->isEnabled(), button);
        QCOMPARE(find<QTabWidget>("UserPages")->count(), 0);
        QVERIFY(find<QPushButton>("ExitButton")->isEnabled());
        // Closing asks nothing: there is nothing this window may save.
        QVERIFY(m_window->get()->close());
    }

    // Deleted by one's own saved change: the window says so, once.
    void myOwnDeletionSavedSignsMeOut()
    {
        clickUser("admin");
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click("DeleteButton");
        clickUser("clerk");
        click("ModifyButton");
        edit("PPEdit")->setText(QStringLiteral("pw2"));
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click("SaveChangeButton");
        QCOMPARE(boxes().last(),
                 QStringLiteral("Warning Ok: Your login ID admin has been deleted by your own "
                                "change, now saved: you are signed out, and nothing more can be "
                                "changed until you sign in as another user.\nThis window can "
                                "neither change nor save anything more: changes not saved are "
                                "lost. Only Exit is left."));
        QVERIFY(!decodeTable(m_dir->read()).join('\n').contains(QStringLiteral("admin|")));
        QCOMPARE(find<QTabWidget>("UserPages")->count(), 0);
    }

    void cleanup() { tearDown(); }

    void fixtureDecodes()
    {
        QCOMPARE(decodeTable(m_fixture), (QStringList{AdminLine, ClerkLine, ReneeLine,
                                                      QStringLiteral("-"), QStringLiteral("-")}));
        QCOMPARE(listLines(users()), (QStringList{"admin", "clerk", Renee}));
        QVERIFY(users()->selectedItems().isEmpty());
        QCOMPARE(text("UserNameDisplay"), QString());
    }

    void detailsOfAUser_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("path");
        // DeleteRecord, ModifyRecord, AddRecord, DeleteUsers, ModifyUsers, AddUsers
        QTest::addColumn<QStringList>("rights");
        QTest::addColumn<QStringList>("accounts");
        const QString T = QStringLiteral("TRUE"), F = QStringLiteral("FALSE");
        QTest::newRow("the signed-in user's own password")
            << "admin"
            << "secret"
            << "C:\\Larkledger\\Data" << QStringList{T, T, T, T, T, T}
            << QStringList{"Checking", "Savings"};
        QTest::newRow("another password is hidden")
            << "clerk"
            << "Hidden"
            << "/srv/ledger" << QStringList{F, F, F, F, T, F} << QStringList{};
        QTest::newRow("blanks kept") << Renee << "Hidden"
                                     << "D:\\Daten" << QStringList{F, F, F, T, F, F}
                                     << QStringList{QString::fromUtf8("Gesch\xc3\xa4"
                                                                      "ft")};
    }

    void detailsOfAUser()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, path);
        QFETCH(QStringList, rights);
        QFETCH(QStringList, accounts);

        clickUser(user);
        QCOMPARE(text("UserNameDisplay"), user);
        QCOMPARE(text("UserPPDisplay"), password);
        QCOMPARE(text("DataPathLabel"), path);
        QCOMPARE(find<QLabel>("DataPathLabel")->toolTip(), path);
        QCOMPARE((QStringList{text("DeleteRecordDisplay"), text("ModifyRecordDisplay"),
                              text("AddRecordDisplay"), text("DeleteUserDisplay"),
                              text("ModifyUsersDisplay"), text("AddUsersDisplay")}),
                 rights);
        QCOMPARE(listLines(find<QListWidget>("AccoTypeListBox")), accounts);
        QCOMPARE(find<QPlainTextEdit>("DescriptionLabel")->toPlainText(),
                 QStringLiteral("Select an account to see the description."));
        QVERIFY(!find<QPushButton>("ModifyAccoBtn")->isEnabled());
        QVERIFY(!find<QPushButton>("DelAccoBtn")->isEnabled());
        // A click changes no sheet and no state of the editor.
        QCOMPARE(find<QTabWidget>("UserPages")->currentWidget()->objectName(),
                 QStringLiteral("UserInfoSheet"));
        QVERIFY(!saveChangeShown());
        QVERIFY(!tableChanged());
    }

    void keysMoveTheDetails()
    {
        clickUser("admin");
        QTest::keyClick(users(), Qt::Key_Down);
        QCOMPARE(text("UserNameDisplay"), QStringLiteral("clerk"));
        QTest::keyClick(users(), Qt::Key_Down);
        QCOMPARE(text("UserNameDisplay"), Renee);
        QCOMPARE(listLines(find<QListWidget>("AccoTypeListBox")).size(), 1);
    }

    void passwordInClearOnlyWhenItEqualsTheSignedInUsers()
    {
        addUser("twin", "secret");
        addUser("Twin2", "Secret");
        clickUser("twin");
        QCOMPARE(text("UserPPDisplay"), QStringLiteral("secret"));
        clickUser("Twin2");
        QCOMPARE(text("UserPPDisplay"), QStringLiteral("Hidden"));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("expected");
        const QString fill = QStringLiteral("Error Ok: Please fill all sections.");
        const QString ask = QStringLiteral("Confirmation YesNo: Do you want to save the changes?");
        const QString reserved =
            QStringLiteral("Error Ok: The NewPassWord is a reserved word, please try another one.");
        QTest::newRow("add, name empty") << "add:|pw|/d|000000" << QStringList{fill};
        QTest::newRow("add, name of blanks") << "add:   |pw|/d|000000" << QStringList{fill};
        QTest::newRow("add, password empty") << "add:x||/d|000000" << QStringList{fill};
        QTest::newRow("add, path empty") << "add:x|pw||000000" << QStringList{fill};
        QTest::newRow("add, a right unpicked") << "add:x|pw|/d|00000-" << QStringList{fill};
        QTest::newRow("add, name in other case")
            << "add:ADMIN|pw|/d|000000" << QStringList{"Error Ok: User already exist."};
        QTest::newRow("add, name with blanks around")
            << "add:  Clerk  |pw|/d|000000" << QStringList{"Error Ok: User already exist."};
        // The listed " Renée " is stored with blanks around it: the same name
        // typed without them is hers too.
        QTest::newRow("add, a listed name without its blanks")
            << QString::fromUtf8("add:ren\xc3\xa9"
                                 "e|pw|/d|000000")
            << QStringList{"Error Ok: User already exist."};
        QTest::newRow("add, a listed name with other blanks")
            << QString::fromUtf8("add:  Ren\xc3\xa9"
                                 "e|pw|/d|000000")
            << QStringList{"Error Ok: User already exist."};
        QTest::newRow("delete, nothing selected")
            << "delete" << QStringList{"Error Ok: Select an user first please."};
        QTest::newRow("save changes answered No") << "save:No" << QStringList{ask};
        QTest::newRow("save changes, a section empty") << "save:path" << QStringList{ask, fill};
        QTest::newRow("save changes right after Modify")
            << "save:NewPassWord" << QStringList{ask, reserved};
        QTest::newRow("save changes, placeholder in small letters")
            << "save:newpassword" << QStringList{ask, reserved};
        QTest::newRow("save changes, placeholder in capitals")
            << "save:NEWPASSWORD" << QStringList{ask, reserved};
    }

    void refusals()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, expected);

        QStringList editor;
        if (scenario.startsWith("add:")) {
            const QStringList f = scenario.mid(4).split('|');
            fillEditor(f[0], f[1], f[2], f[3]);
            editor = editorState();
            m_scripted->answer(Button::Ok);
            click("AddButton");
        } else if (scenario == "delete") {
            m_scripted->answer(Button::Ok);
            click("DeleteButton");
        } else {
            clickUser("clerk");
            click("ModifyButton");
            const QString how = scenario.mid(5);
            if (how == "No") {
                replaceText(edit("PPEdit"), "fresh");
                m_scripted->answer(Button::No);
            } else if (how == "path") {
                replaceText(edit("PPEdit"), "fresh");
                replaceText(edit("DPEdit"), " ");
                m_scripted->answer(Button::Yes);
                m_scripted->answer(Button::Ok);
            } else {
                if (how != "NewPassWord")
                    edit("PPEdit")->setText(how);
                m_scripted->answer(Button::Yes);
                m_scripted->answer(Button::Ok);
            }
            editor = editorState();
            click("SaveChangeButton");
        }

        QCOMPARE(boxes(), expected);
        QCOMPARE(listLines(users()), (QStringList{"admin", "clerk", Renee}));
        QCOMPARE(memoryTable(), decodeTable(m_fixture));
        QCOMPARE(m_dir->read(), m_fixture);
        QVERIFY(!tableChanged());
        if (!editor.isEmpty())
            QCOMPARE(editorState(), editor);
    }

    void addedUserIsListedLastAndWrittenOnlyWhenSaved()
    {
        addUser("  Nb  ", "pw1", "010101");
        QCOMPARE(boxes(), QStringList());
        QCOMPARE(listLines(users()), (QStringList{"admin", "clerk", Renee, "  Nb  "}));
        QVERIFY(users()->selectedItems().isEmpty());
        QCOMPARE(find<QTabWidget>("UserPages")->currentWidget()->objectName(),
                 QStringLiteral("ActionSheet"));
        QCOMPARE(editorState(), (QStringList{"", "", "", "-1", "-1", "-1", "-1", "-1", "-1"}));
        QVERIFY(saveChangeShown());
        QVERIFY(saveChangeButton()->isEnabled());
        QVERIFY(tableChanged());
        QCOMPARE(m_dir->read(), m_fixture);

        m_scripted->answer(Button::Yes);
        m_window->get()->close();
        QCOMPARE(boxes(),
                 QStringList{"Confirmation YesNoCancel: Do you want to save the changes?"});
        QCOMPARE(decodeTable(m_dir->read()),
                 (QStringList{AdminLine, ClerkLine, ReneeLine, "  Nb  |pw1|/data|010101", "-"}));
    }

    // Add after Modify with only the name changed would hand the copy the
    // placeholder, cut to eight, which every reader of the manual knows.
    void addRefusesThePlaceholderPassword()
    {
        clickUser("admin");
        click("ModifyButton");
        replaceText(edit("NameEdit"), "admin2");
        m_scripted->answer(Button::Ok);
        click("AddButton");
        QCOMPARE(boxes(), QStringList{"Error Ok: The NewPassWord is a reserved word, please try "
                                      "another one."});
        QCOMPARE(memoryTable(), decodeTable(m_fixture));
        QVERIFY(!tableChanged());
    }

    // A clerk, who holds no user right, finds the button and changes their
    // own password; a refusal keeps the dialog open for another try.
    void anyUserChangesTheirOwnPassword()
    {
        signIn(QStringLiteral("clerk"), QStringLiteral("Pa55w0rd"));
        QVERIFY(find<QPushButton>("PasswordButton")->isEnabled());
        QVERIFY(!find<QPushButton>("AddButton")->isEnabled());
        const auto fill = [](QDialog* dialog, const QString& old, const QString& fresh,
                             const QString& again) {
            const QStringList names{"OldPasswordEdit", "NewPasswordEdit", "RepeatPasswordEdit"};
            const QStringList texts{old, fresh, again};
            for (int i = 0; i < 3; ++i) {
                auto* box = dialog->findChild<QLineEdit*>(names[i]);
                QCOMPARE(box->echoMode(), QLineEdit::Password);
                box->clear();
                typeText(box, texts[i]);
            }
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        };
        bool shown = false;
        onNextModal([&](QDialog* dialog) {
            shown = true;
            m_scripted->answer(Button::Ok);
            fill(dialog, "Pa55w0rd", "fresh", "frash");
            QVERIFY(dialog->isVisible());
            m_scripted->answer(Button::Ok);
            fill(dialog, "Pa55w0rd", "fresh", "fresh");
        });
        click("PasswordButton");
        QVERIFY(shown);
        QCOMPARE(boxes(), (QStringList{"Error Ok: The new password and its repetition differ: "
                                       "type the same new password twice.",
                                       "Information Ok: Your password has been changed. Sign in "
                                       "with the new one from now on."}));
        QCOMPARE(decodeTable(m_dir->read()).at(1),
                 QStringLiteral("clerk|fresh|/srv/ledger|111011"));
        QVERIFY(find<QPushButton>("PasswordButton")->isEnabled());
        QCOMPARE(m_window->get()->windowTitle(), QStringLiteral("KVS - clerk"));
    }

    // The keyboard types no control character, but a paste brings any that
    // Windows-1252 holds; the session core's refusal is what the person sees.
    void aPastedControlCharacterIsRefused_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("message");
        const QString stored = QStringLiteral(": tabs, line breaks, escapes and other control "
                                              "characters cannot be stored.");
        QTest::newRow("TAB before a name")
            << "NameEdit"
            << "\tbob"
            << "The login name holds a control character (U+0009 at character 1)" + stored;
        QTest::newRow("ESC in a name")
            << "NameEdit"
            << "bo\x1b[2Jb"
            << "The login name holds a control character (U+001B at character 3)" + stored;
        QTest::newRow("U+0081 in a name")
            << "NameEdit" << QString::fromUtf8("bo\xc2\x81")
            << "The login name holds a control character (U+0081 at character 3)" + stored;
        QTest::newRow("BEL in a password") << "PPEdit"
                                           << "p\aw"
                                           << "The password holds a control character" + stored;
        QTest::newRow("CR LF in a data path")
            << "DPEdit"
            << "/data\r\n"
            << "The data path holds a control character (U+000D at character 6)" + stored;
    }

    void aPastedControlCharacterIsRefused()
    {
        QFETCH(QString, box);
        QFETCH(QString, pasted);
        QFETCH(QString, message);
        fillEditor("bob", "pw", "/data", "111111");
        QLineEdit* target = edit(box.toLatin1().constData());
        target->selectAll();
        QGuiApplication::clipboard()->setText(pasted);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(target->text(), pasted);

        m_scripted->answer(Button::Ok);
        click("AddButton");
        QCOMPARE(boxes(), QStringList{"Error Ok: " + message});
        QCOMPARE(listLines(users()), (QStringList{"admin", "clerk", Renee}));
        QCOMPARE(memoryTable(), decodeTable(m_fixture));
        QVERIFY(!tableChanged());
    }

    void sixthUserIsRefused()
    {
        addUser("four");
        addUser("five");
        const QStringList full = memoryTable();
        fillEditor("six", "pw", "/d", "111111");
        const QStringList editor = editorState();
        m_scripted->answer(Button::Ok);
        click("AddButton");
        QCOMPARE(boxes(), QStringList{"Error Ok: The user table is full: no more than five "
                                      "users can be kept."});
        QCOMPARE(memoryTable(), full);
        QCOMPARE(editorState(), editor);

        deleteUser("clerk");
        addUser("six");
        QCOMPARE(listLines(users()), (QStringList{"admin", Renee, "four", "five", "six"}));
        QCOMPARE(memoryTable().at(4), QStringLiteral("six|pw|/data|111111"));
    }

    void saveChangesMovesTheUserToTheEnd_data()
    {
        QTest::addColumn<bool>("precedingAdd");
        QTest::newRow("first of three") << false;
        QTest::newRow("after an unsaved add") << true;
    }

    void saveChangesMovesTheUserToTheEnd()
    {
        QFETCH(bool, precedingAdd);
        QStringList expectedLines{"clerk", Renee};
        QStringList expectedFile{ClerkLine, ReneeLine};
        if (precedingAdd) {
            addUser("extra");
            expectedLines << "extra";
            expectedFile << "extra|pw|/data|111111";
        }
        clickUser("admin");
        click("ModifyButton");
        const LoadedUser admin = session().loadForEditing("admin");
        QVERIFY(!admin.empty());
        QVERIFY(editedUser() == admin);
        replaceText(edit("PPEdit"), "n3w");
        m_scripted->answer(Button::Yes);
        click("SaveChangeButton");

        QCOMPARE(boxes(), QStringList{"Confirmation YesNo: Do you want to save the changes?"});
        expectedLines << "admin";
        expectedFile << QString(AdminLine).replace("|secret|", "|n3w|");
        while (expectedFile.size() < 5)
            expectedFile << "-";
        QCOMPARE(listLines(users()), expectedLines);
        QCOMPARE(decodeTable(m_dir->read()), expectedFile);
        QVERIFY(!tableChanged());
        QVERIFY(!saveChangeShown());
        QVERIFY(!saveChangeButton()->isEnabled());
        QCOMPARE(editorState(), (QStringList{"", "", "", "-1", "-1", "-1", "-1", "-1", "-1"}));
        // The emptied editor holds nobody.
        QVERIFY(editedUser().empty());
    }

    // Save Changes acts on the user Modify loaded, wherever it now is, and
    // on no other.
    void saveChangesFindsTheLoadedUserAgain_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("expectedBoxes");
        QTest::addColumn<QStringList>("expectedFile");
        const QString ask = QStringLiteral("Confirmation YesNo: Do you want to save the changes?");
        QTest::newRow("moved up by a deletion")
            << "deletion"
            << QStringList{"Confirmation YesNo: Do you really want to DELETE user clerk ?", ask}
            << QStringList{
                   AdminLine,
                   QString(ReneeLine).replace(QString::fromUtf8("caf\xc3\xa9\xe2\x82\xac"), "x1"),
                   "-", "-", "-"};
        // A completed Save Changes empties the editor and loads nobody: what
        // is typed next must not replace the user saved before.
        QTest::newRow("after a completed Save Changes")
            << "resave"
            << QStringList{ask, ask,
                           "Error Ok: No user has been loaded for editing: select a user and "
                           "press Modify first."}
            << QStringList{ClerkLine, ReneeLine,
                           QString(AdminLine).replace("admin|secret|", "admin|one|"), "-", "-"};
        QTest::newRow("deleted") << "gone"
                                 << QStringList{"Confirmation YesNo: Do you really want to "
                                                "DELETE user clerk ?",
                                                ask,
                                                "Error Ok: The user being edited no longer exists: "
                                                "load it again with Modify."}
                                 << QStringList();
        QTest::newRow("nothing loaded")
            << "none"
            << QStringList{ask, "Error Ok: No user has been loaded for editing: select a user "
                                "and press Modify first."}
            << QStringList();
    }

    void saveChangesFindsTheLoadedUserAgain()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, expectedBoxes);
        QFETCH(QStringList, expectedFile);
        if (expectedFile.isEmpty())
            expectedFile = decodeTable(m_fixture);

        QStringList memoryBefore;
        if (scenario == "deletion") {
            clickUser(Renee);
            click("ModifyButton");
            deleteUser("clerk");
            replaceText(edit("PPEdit"), "x1");
        } else if (scenario == "resave") {
            clickUser("admin");
            click("ModifyButton");
            replaceText(edit("PPEdit"), "one");
            m_scripted->answer(Button::Yes);
            click("SaveChangeButton");
            fillEditor("admin2", "two", "C:\\Larkledger\\Data", "000000");
        } else if (scenario == "gone") {
            clickUser("clerk");
            click("ModifyButton");
            deleteUser("clerk");
            replaceText(edit("PPEdit"), "x1");
            memoryBefore = memoryTable();
        } else {
            fillEditor("nobody", "pw", "/d", "111111");
            memoryBefore = memoryTable();
        }
        m_scripted->answer(Button::Yes);
        if (scenario == "gone" || scenario == "none" || scenario == "resave")
            m_scripted->answer(Button::Ok);
        click("SaveChangeButton");

        QCOMPARE(boxes(), expectedBoxes);
        QCOMPARE(decodeTable(m_dir->read()), expectedFile);
        if (!memoryBefore.isEmpty())
            QCOMPARE(memoryTable(), memoryBefore);
        else
            QCOMPARE(memoryTable(), expectedFile);
    }

    // A failed write leaves the table as the file holds it; the list, the
    // editor and the button stay as they were, so the person can try again.
    void aFailedSaveChangesLeavesTheTableAsTheFileHoldsIt()
    {
        addUser("extra");
        clickUser("clerk");
        click("ModifyButton");
        replaceText(edit("PPEdit"), "fresh");
        const QStringList editor = editorState();
        const QStringList memory = memoryTable();
        // A directory in the table's place: no save can succeed.
        QVERIFY(QFile::rename(m_dir->path() + "/Gatekeep.acl", m_dir->path() + "/kept.acl"));
        QVERIFY(QDir(m_dir->path()).mkdir("Gatekeep.acl"));
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click("SaveChangeButton");
        QCOMPARE(boxes(), (QStringList{"Confirmation YesNo: Do you want to save the changes?",
                                       "Error Ok: File access denied."}));
        QCOMPARE(m_scripted->shown.last().title, QStringLiteral("Larkledger Security Manager"));
        QCOMPARE(memoryTable(), memory);
        QCOMPARE(listLines(users()), (QStringList{"admin", "clerk", Renee, "extra"}));
        QCOMPARE(editorState(), editor);
        QVERIFY(saveChangeShown());
        // The add before it is still waiting for the close's question.
        QVERIFY(tableChanged());

        // Once the file can be written, the same Save Changes goes through once.
        QVERIFY(QDir(m_dir->path()).rmdir("Gatekeep.acl"));
        QVERIFY(QFile::rename(m_dir->path() + "/kept.acl", m_dir->path() + "/Gatekeep.acl"));
        m_scripted->answer(Button::Yes);
        click("SaveChangeButton");
        QCOMPARE(decodeTable(m_dir->read()),
                 (QStringList{AdminLine, ReneeLine, "extra|pw|/data|111111",
                              QString(ClerkLine).replace("|Pa55w0rd|", "|fresh|"), "-"}));
        QVERIFY(!tableChanged());
    }

    void deleteOnlyOnYes_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("Yes, the signed-in user")
            << "admin" << int(Button::Yes) << QStringList{"clerk", Renee};
        QTest::newRow("No") << Renee << int(Button::No) << QStringList{"admin", "clerk", Renee};
        QTest::newRow("closed without an answer")
            << "clerk" << int(Button::Cancel) << QStringList{"admin", "clerk", Renee};
    }

    void deleteOnlyOnYes()
    {
        QFETCH(QString, user);
        QFETCH(int, answer);
        QFETCH(QStringList, remaining);

        clickUser(user);
        m_scripted->answer(Button(answer));
        const bool myself = user == "admin" && answer == int(Button::Yes);
        if (myself)
            m_scripted->answer(Button::Ok);
        click("DeleteButton");
        QStringList expected{"Confirmation YesNo: Do you really want to DELETE user " + user +
                             " ?"};
        // Deleting one's own login ID says at once what follows.
        if (myself)
            expected << m_ownDeletion;
        QCOMPARE(boxes(), expected);
        QCOMPARE(listLines(users()), remaining);
        QCOMPARE(tableChanged(), answer == int(Button::Yes));
        // Deletions wait for a save; the rights applied at sign-in stay.
        QCOMPARE(m_dir->read(), m_fixture);
        QVERIFY(find<QPushButton>("AddButton")->isEnabled());
        QVERIFY(find<QPushButton>("DeleteButton")->isEnabled());
        QCOMPARE(text("UserNameDisplay"), user);
    }

    void deletingEveryUser()
    {
        clickUser("admin");
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok); // what deleting oneself means
        click("DeleteButton");
        deleteUser("clerk");
        deleteUser(Renee);
        QCOMPARE(listLines(users()), QStringList());
        m_scripted->answer(Button::Ok);
        click("DeleteButton");
        QCOMPARE(boxes().last(), QStringLiteral("Error Ok: The user database is empty!"));
        QCOMPARE(memoryTable(), (QStringList{"-", "-", "-", "-", "-"}));
    }

    void modifyLoadsTheEditor()
    {
        clickUser("clerk");
        click("ModifyButton");
        QCOMPARE(find<QTabWidget>("UserPages")->currentWidget()->objectName(),
                 QStringLiteral("ActionSheet"));
        // Record order: DR DU MR MU AR AU; only ModifyUsers is granted.
        QCOMPARE(editorState(), (QStringList{"clerk", "NewPassWord", "/srv/ledger", "1", "1", "1",
                                             "0", "1", "1"}));
        QCOMPARE(combo("MUCombo")->currentText(), QStringLiteral("True"));
        QCOMPARE(combo("ARCombo")->currentText(), QStringLiteral("False"));
        QVERIFY(editedUser() == session().loadForEditing("clerk"));
        QVERIFY(saveChangeShown());
        QVERIFY(saveChangeButton()->isEnabled());
        QVERIFY(!tableChanged());
    }

    void passwordBoxTakesEightTypedCharacters()
    {
        typeText(edit("PPEdit"), "123456789");
        QCOMPARE(edit("PPEdit")->text(), QStringLiteral("12345678"));

        clickUser("admin");
        click("ModifyButton");
        QLineEdit* password = edit("PPEdit");
        QCOMPARE(password->text(), QStringLiteral("NewPassWord"));
        password->end(false);
        typeText(password, "x");
        QCOMPARE(password->text(), QStringLiteral("NewPassWord"));
        QTest::keyClick(password, Qt::Key_Backspace);
        QCOMPARE(password->text(), QStringLiteral("NewPassWor"));
        typeText(password, QString::fromUtf8("\xe4\xb8\xad"));
        QCOMPARE(password->text(), QStringLiteral("NewPassWor"));
    }

    void aLeadingBlankMakesThePlaceholderAPassword()
    {
        clickUser("clerk");
        click("ModifyButton");
        edit("PPEdit")->setText(" NewPassWord");
        m_scripted->answer(Button::Yes);
        click("SaveChangeButton");
        QCOMPARE(
            decodeTable(m_dir->read()),
            (QStringList{AdminLine, ReneeLine, "clerk| NewPass|/srv/ledger|111011", "-", "-"}));
    }

    void damagedRightShowsFalseAndMustBeChosenAgain()
    {
        TableSlots table = tableSlots(m_fixture);
        table.freeSlot(2);
        table.setUser(2, "clerk", "Pa55w0rd", "/srv/ledger", "11107 ");
        startWith(tableBytes(table));

        clickUser("clerk");
        QCOMPARE(text("ModifyUsersDisplay"), QStringLiteral("TRUE"));
        QCOMPARE(text("AddRecordDisplay"), QStringLiteral("FALSE"));
        QCOMPARE(text("AddUsersDisplay"), QStringLiteral("FALSE"));
        click("ModifyButton");
        QCOMPARE(combo("MUCombo")->currentIndex(), 0);
        QCOMPARE(combo("ARCombo")->currentIndex(), -1);
        QCOMPARE(combo("AUCombo")->currentIndex(), -1);

        replaceText(edit("PPEdit"), "fresh");
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click("SaveChangeButton");
        QCOMPARE(boxes().last(), QStringLiteral("Error Ok: Please fill all sections."));

        pick(combo("ARCombo"), 1);
        pick(combo("AUCombo"), 0);
        m_scripted->answer(Button::Yes);
        click("SaveChangeButton");
        QCOMPARE(decodeTable(m_dir->read()).at(2),
                 QStringLiteral("clerk|fresh|/srv/ledger|111010"));
    }

    void withoutBothUserRightsTheRightsStayAsLoaded()
    {
        signIn("clerk", "Pa55w0rd");
        for (const char* name : RightCombos)
            QVERIFY(!combo(name)->isEnabled());
        QVERIFY(!find<QPushButton>("AddButton")->isEnabled());

        clickUser("clerk");
        click("ModifyButton");
        replaceText(edit("PPEdit"), "pw");
        m_scripted->answer(Button::Yes);
        click("SaveChangeButton");
        QCOMPARE(decodeTable(m_dir->read()),
                 (QStringList{AdminLine, ReneeLine,
                              QString(ClerkLine).replace("|Pa55w0rd|", "|pw|"), "-", "-"}));
    }

    // Without AddUsers nobody takes over a user who holds a right they lack:
    // no new password, no new name for such a user.
    void noTakeOverOfAStrongerUser_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("newName");
        QTest::newRow("admin: all six rights") << "admin"
                                               << "admin";
        QTest::newRow("Renée: DeleteUsers") << Renee << Renee;
        QTest::newRow("admin renamed") << "admin"
                                       << "boss";
    }

    void noTakeOverOfAStrongerUser()
    {
        QFETCH(QString, target);
        QFETCH(QString, newName);
        signIn("clerk", "Pa55w0rd");
        clickUser(target);
        click("ModifyButton");
        replaceText(edit("NameEdit"), newName);
        replaceText(edit("PPEdit"), "mine");
        m_scripted->answer(Button::Yes);
        m_scripted->answer(Button::Ok);
        click("SaveChangeButton");
        QCOMPARE(boxes(), (QStringList{"Confirmation YesNo: Do you want to save the changes?",
                                       "Error Ok: You may not change the name or password of a "
                                       "user who holds rights you lack."}));
        QCOMPARE(m_dir->read(), m_fixture);
        QCOMPARE(memoryTable(), decodeTable(m_fixture));
    }

    void aFreeSlotBeforeAUsedOne()
    {
        TableSlots table = tableSlots(m_fixture);
        table.freeSlot(2);
        startWith(tableBytes(table));
        QCOMPARE(listLines(users()), QStringList{"admin"});

        addUser("new");
        QCOMPARE(listLines(users()), (QStringList{"admin", "new", Renee}));
        QCOMPARE(memoryTable(),
                 (QStringList{AdminLine, "new|pw|/data|111111", ReneeLine, "-", "-"}));
    }

    void browseFillsTheDataPath()
    {
        m_scripted->chooseFolder(m_dir->path());
        click("BrowseBtn");
        QCOMPARE(m_scripted->folderCaptions, QStringList{"Database Directory"});
        QCOMPARE(edit("DPEdit")->text(), m_dir->path());
        QVERIFY(saveChangeShown());
        QVERIFY(saveChangeButton()->isEnabled());

        m_scripted->chooseFolder(std::nullopt);
        click("BrowseBtn");
        QCOMPARE(edit("DPEdit")->text(), m_dir->path());
    }

    void editsKeepPendingChangesMarked()
    {
        addUser("extra");
        QVERIFY(tableChanged());
        clickUser("clerk");
        click("ModifyButton");
        typeText(edit("NameEdit"), "x");
        pick(combo("DRCombo"), 0);
        QVERIFY(tableChanged());

        m_scripted->answer(Button::No);
        m_window->get()->close();
        QCOMPARE(boxes(),
                 QStringList{"Confirmation YesNoCancel: Do you want to save the changes?"});
        QCOMPARE(m_dir->read(), m_fixture);
    }

    void aComboPickShowsSaveChanges()
    {
        QVERIFY(!saveChangeShown());
        combo("DUCombo")->setCurrentIndex(1);
        QVERIFY(!saveChangeShown());
        pick(combo("DUCombo"), 0);
        QVERIFY(saveChangeShown());
        QVERIFY(saveChangeButton()->isEnabled());
    }

private:
    const LoadedUser& editedUser() const { return m_window->get()->editedUser(); }
};

QTEST_MAIN(UserAdminTest)
#include "UserAdminTest.moc"
