#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "app/SecurityManager.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/SignedInMainForm.h"
#include "tests/support/TempWorkDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <memory>

// The main window as designed, before anyone signs in: the start-up's login
// dialog is given up at once, which leaves every control in its design state.
class MainWindowLayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void texts_data();
    void texts();
    void frame();
    void designedGeometry_data();
    void designedGeometry();
    void pages();
    void designState();
    void editorLimits();
    void editorTabOrder();
    void fontsAndColours();
    void pictures();

private:
    template <class T> T* child(const QString& name) const
    {
        T* found = m_form->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<SecurityManager> m_manager;
    TMainForm* m_form = nullptr;
};

void MainWindowLayoutTest::initTestCase()
{
    m_dir = std::make_unique<TempWorkDir>();
    m_dir->copyFixture(QStringLiteral("three-users.acl"));
    ScriptedUi scripted;
    scripted.answer(MessageBox::Button::Ok); // the internal error after Quit
    giveUpStartupDialog();
    m_manager = std::make_unique<SecurityManager>(m_dir->path());
    m_manager->start();
    m_form = m_manager->mainForm();
    QCOMPARE(scripted.problems(), QString());
    QCOMPARE(scripted.shown.size(), 1);
}

void MainWindowLayoutTest::cleanupTestCase()
{
    m_manager.reset();
    dropPendingDialogDrivers();
    m_dir.reset();
}

void MainWindowLayoutTest::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");

    const auto row = [](const char* name, const char* text, const char* hint = "") {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text)
                            << QString::fromUtf8(hint);
    };
    // The frame and the user list
    row("GroupBox", "Users Avaliable");
    row("AddButton", "Add", "Add a new user.");
    row("ModifyButton", "Modify", "Modify user profiles.");
    row("DeleteButton", "Delete", "Delete user profiles.");
    row("ExitButton", "Exit", "Quit VRX.");
    // "User Details"
    row("Label13", "User Information");
    row("UserNameLabel", "User Name :");
    row("UserPPLabel", "User Personal Pass :");
    row("DatabasePathLabel", "User database path :");
    row("UserRightsLabel", "User Rights :");
    row("DeleteRecordLable", "Delete Record :");
    row("ModifyRecordLable", "Modify Record :");
    row("AddRecordLable", "Add Record      :");
    row("DeleteUserLable", "Delete User      :");
    row("ModifyUsersLable", "Modify Users   :");
    row("AddUserLable", "Add Users        :");
    for (const char* display : {"UserNameDisplay", "UserPPDisplay", "DataPathLabel",
                                "DeleteRecordDisplay", "ModifyRecordDisplay", "AddRecordDisplay",
                                "DeleteUserDisplay", "ModifyUsersDisplay", "AddUsersDisplay"})
        row(display, "");
    // "User Editor"
    row("Label12", "User Info");
    row("Label1", "User Name :");
    row("Label4", "User Personal Pass :");
    row("UserDataPathLabel", "User Database Path  :");
    row("BrowseBtn", "", "Browse...");
    row("Label5", "User Rights");
    row("Label8", "Add Record      :");
    row("Label11", "Add Users        :");
    row("Label6", "Delete Record :");
    row("Label10", "Modify Users   :");
    row("Label7", "Modify Record :");
    row("Label9", "Delete User      :");
    row("SaveChangeButton", "Save Changes", "Save the modified record.");
    row("ExitButton2", "Exit", "Quit VRX");
    for (const char* edit : {"NameEdit", "PPEdit", "DPEdit"})
        row(edit, "");
    // "Bank Account"
    row("Label2", "User Account(s)");
    row("NewAccoBtn", "New", "Add a new bank account.");
    row("ModifyAccoBtn", "Modify", "Modify an exist bank account.");
    row("DelAccoBtn", "Delete", "Delete an exist bank account");
    row("AccoDescriptionGroupBox", "Description");
    row("DescriptionLabel", "");
}

void MainWindowLayoutTest::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, hint);

    QWidget* widget = child<QWidget>(name);
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget))
        shown = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        shown = button->text();
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        shown = group->title();
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        shown = edit->text();
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget))
        shown = memo->toPlainText();
    else
        QFAIL("no text to compare");
    QCOMPARE(shown, text);
    QCOMPARE(widget->toolTip(), hint);
}

void MainWindowLayoutTest::frame()
{
    QCOMPARE(m_form->objectName(), QStringLiteral("MainForm"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Larkledger Security Manager"));
    QCOMPARE(m_form->size(), QSize(476, 320));
    QCOMPARE(m_form->minimumSize(), QSize(476, 320));
    QCOMPARE(m_form->maximumSize(), QSize(476, 320));
    const Qt::WindowFlags flags = m_form->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));

    QCOMPARE(child<QTabWidget>("UserPages")->geometry(), QRect(0, 0, 245, 320));
    QCOMPARE(child<QGroupBox>("GroupBox")->geometry(), QRect(245, 0, 231, 320));
    QCOMPARE(child<QListWidget>("UserNames")->geometry(), QRect(2, 17, 227, 239));
    QCOMPARE(child<QWidget>("PasswordButton")->geometry(), QRect(31, 259, 173, 19));
    QCOMPARE(child<QWidget>("AddButton")->geometry(), QRect(31, 278, 87, 19));
    QCOMPARE(child<QWidget>("ModifyButton")->geometry(), QRect(118, 278, 86, 19));
    QCOMPARE(child<QWidget>("DeleteButton")->geometry(), QRect(31, 297, 87, 19));
    QCOMPARE(child<QWidget>("ExitButton")->geometry(), QRect(118, 297, 86, 19));
    for (const char* name :
         {"UserNames", "AddButton", "ModifyButton", "DeleteButton", "ExitButton"})
        QCOMPARE(child<QWidget>(name)->parentWidget(), child<QWidget>("GroupBox"));
}

void MainWindowLayoutTest::designedGeometry_data()
{
    QTest::addColumn<bool>("inDialog");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("relativeTo"); // empty: the control's parent
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<bool>("positionOnly"); // a label drawn at its text's size

    const auto at = [](const char* name, int left, int top, int width, int height,
                       const char* relativeTo = "") {
        QTest::newRow(name) << false << QString::fromLatin1(name) << QString::fromLatin1(relativeTo)
                            << QRect(left, top, width, height) << false;
    };
    const auto label = [](const char* name, int left, int top) {
        QTest::newRow(name) << false << QString::fromLatin1(name) << QString()
                            << QRect(left, top, 0, 0) << true;
    };
    const auto inDialog = [](const char* name, int left, int top, int width, int height) {
        QTest::newRow(qPrintable(QStringLiteral("New Account: %1").arg(QLatin1String(name))))
            << true << QString::fromLatin1(name) << QString() << QRect(left, top, width, height)
            << false;
    };

    // The frame
    at("UserPages", 0, 0, 245, 320);
    at("GroupBox", 245, 0, 231, 320);
    at("UserNames", 2, 17, 227, 239);
    at("PasswordButton", 31, 259, 173, 19);
    at("AddButton", 31, 278, 87, 19);
    at("ModifyButton", 118, 278, 86, 19);
    at("DeleteButton", 31, 297, 87, 19);
    at("ExitButton", 118, 297, 86, 19);

    // "User Details"
    // Designed 118 wide; "User Information" in Liberation Sans Bold 11 point
    // is 120 pixels, and at 118 its last "n" loses a column of pixels.
    at("Label13", 4, 4, 158, 18);
    label("UserNameLabel", 6, 27);
    at("UserNameDisplay", 36, 45, 169, 15);
    label("UserPPLabel", 8, 63);
    at("UserPPDisplay", 36, 81, 169, 15);
    label("DatabasePathLabel", 10, 101);
    at("DataPathLabel", 38, 119, 167, 15);
    at("Sp1", 12, 140, 197, 2);
    label("UserRightsLabel", 6, 146);
    at("DeleteRecordLable", 14, 168, 95, 18);
    at("ModifyRecordLable", 14, 186, 95, 18);
    at("AddRecordLable", 14, 204, 95, 18);
    at("Bevel1", 10, 232, 113, 2);
    at("DeleteUserLable", 14, 238, 95, 18);
    at("ModifyUsersLable", 14, 256, 95, 18);
    at("AddUserLable", 14, 274, 95, 18);
    at("DeleteRecordDisplay", 109, 167, 95, 18);
    at("ModifyRecordDisplay", 109, 185, 95, 18);
    at("AddRecordDisplay", 109, 203, 95, 18);
    at("DeleteUserDisplay", 109, 237, 95, 18);
    at("ModifyUsersDisplay", 109, 255, 95, 18);
    at("AddUsersDisplay", 109, 273, 95, 18);

    // "User Editor"
    at("Label12", 16, 7, 57, 15);
    at("Bevel3", 4, 14, 207, 2);
    label("Label1", 4, 35);
    // Designed 126, 31, 81, 22 and 126, 58, 81, 22: both boxes are 10 wider
    // (8 to the left, 2 to the right) so that the placeholder "NewPassWord",
    // which Modify puts into the editor, shows whole in bold Liberation
    // Sans; the name box keeps the password box's edges.
    at("NameEdit", 118, 31, 91, 22);
    label("Label4", 4, 61);
    at("PPEdit", 118, 58, 91, 22);
    label("UserDataPathLabel", 4, 87);
    at("DPEdit", 6, 104, 178, 22);
    at("BrowseBtn", 184, 104, 23, 22);
    label("Label5", 18, 131);
    at("Bevel2", 4, 138, 207, 2);
    at("Label8", 10, 149, 86, 15);
    at("ARCombo", 8, 165, 93, 23);
    at("Label11", 116, 149, 86, 15);
    at("AUCombo", 114, 165, 93, 23);
    at("Label6", 9, 189, 86, 15);
    at("DRCombo", 8, 205, 93, 23);
    at("Label10", 116, 189, 86, 15);
    at("MUCombo", 114, 205, 93, 23);
    at("Label7", 9, 229, 86, 15);
    at("MRCombo", 8, 245, 93, 23);
    at("Label9", 115, 229, 86, 15);
    at("DUCombo", 115, 245, 93, 23);
    at("SaveChangeButton", 12, 275, 93, 19);
    at("ExitButton2", 111, 275, 94, 19);

    // "Bank Account": its content is a widget of its own, laid on the sheet.
    const char* sheet = "UserBankAccountInfoSheet";
    at("Label2", 14, 0, 92, 15, sheet);
    at("Bevel4", 6, 7, 197, 2, sheet);
    at("AccoTypeListBox", 8, 18, 202, 141, sheet);
    at("NewAccoBtn", 8, 164, 62, 22, sheet);
    at("ModifyAccoBtn", 78, 164, 63, 22, sheet);
    at("DelAccoBtn", 148, 164, 63, 22, sheet);
    at("AccoDescriptionGroupBox", 10, 194, 199, 113, sheet);
    at("DescriptionLabel", 6, 14, 189, 95, "AccoDescriptionGroupBox");

    inDialog("AccountNameLabel", 2, 2, 92, 13);
    inDialog("NameEdit", 34, 18, 263, 21);
    inDialog("DescriptionLabel", 4, 44, 73, 13);
    inDialog("DescriptionMemo", 34, 60, 263, 61);
    inDialog("SaveBtn", 64, 124, 95, 22);
    inDialog("SpeedButton1", 162, 124, 95, 22);
}

// Where each control sits, as the windows were designed.
void MainWindowLayoutTest::designedGeometry()
{
    QFETCH(bool, inDialog);
    QFETCH(QString, name);
    QFETCH(QString, relativeTo);
    QFETCH(QRect, rect);
    QFETCH(bool, positionOnly);

    QWidget* window = inDialog ? static_cast<QWidget*>(m_manager->accountDialog()) : m_form;
    auto* control = window->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QWidget* reference =
        relativeTo.isEmpty() ? control->parentWidget() : window->findChild<QWidget*>(relativeTo);
    QVERIFY(reference && reference->isAncestorOf(control));
    const QRect actual(control->mapTo(reference, QPoint(0, 0)), control->size());
    if (positionOnly)
        QCOMPARE(actual.topLeft(), rect.topLeft());
    else
        QCOMPARE(actual, rect);
}

void MainWindowLayoutTest::pages()
{
    auto* pages = child<QTabWidget>("UserPages");
    QCOMPARE(pages->tabPosition(), QTabWidget::West);
    QCOMPARE(pages->count(), 3);
    const QStringList sheets{"UserInfoSheet", "ActionSheet", "UserBankAccountInfoSheet"};
    const QStringList titles{"User Details", "User Editor", "Bank Account"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(pages->widget(i)->objectName(), sheets[i]);
        QCOMPARE(pages->tabText(i), titles[i]);
        QVERIFY(pages->isTabVisible(i));
    }
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("UserInfoSheet"));
}

void MainWindowLayoutTest::designState()
{
    for (const char* name : {"AddButton", "ModifyButton", "DeleteButton", "ExitButton"})
        QVERIFY2(child<QWidget>(name)->isEnabled(), name);

    auto* save = child<QWidget>("SaveChangeButton");
    QVERIFY(save->isHidden());
    QVERIFY(!save->isEnabled());
    QVERIFY(child<QWidget>("ExitButton2")->isHidden());

    for (const char* name : {"ARCombo", "DRCombo", "MRCombo", "AUCombo", "DUCombo", "MUCombo"}) {
        auto* combo = child<QComboBox>(name);
        QVERIFY2(combo->isEnabled(), name);
        QVERIFY2(!combo->isEditable(), name);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("True"));
        QCOMPARE(combo->itemText(1), QStringLiteral("False"));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->size(), QSize(93, 23));
    }

    auto* description = child<QPlainTextEdit>("DescriptionLabel");
    QVERIFY(description->isReadOnly());
    QCOMPARE(description->frameShape(), QFrame::NoFrame);
    QCOMPARE(description->viewport()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(description->parentWidget()->objectName(), QStringLiteral("AccoDescriptionGroupBox"));

    for (const char* list : {"UserNames", "AccoTypeListBox"}) {
        auto* box = child<QListWidget>(list);
        QCOMPARE(box->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!box->isSortingEnabled());
    }
    // The start-up fills the list even when the login was given up; names
    // show untrimmed, nothing selected.
    auto* names = child<QListWidget>("UserNames");
    QCOMPARE(names->count(), 3);
    QCOMPARE(names->item(0)->text(), QStringLiteral("admin"));
    QCOMPARE(names->item(1)->text(), QStringLiteral("clerk"));
    QCOMPARE(names->item(2)->text(), QStringLiteral(" Ren\u00e9e "));
    QCOMPARE(names->currentRow(), -1);

    // Display panels are sunken; the caption plates stand out.
    for (const char* name : {"UserNameDisplay", "UserPPDisplay", "DataPathLabel",
                             "DeleteRecordDisplay", "AddUsersDisplay"}) {
        auto* panel = child<QLabel>(name);
        QCOMPARE(panel->frameShape(), QFrame::Panel);
        QCOMPARE(panel->frameShadow(), QFrame::Sunken);
    }
    QCOMPARE(child<QLabel>("UserNameDisplay")->alignment(), Qt::AlignCenter);
    QVERIFY(child<QLabel>("DataPathLabel")->alignment() & Qt::AlignLeft);
    QVERIFY(child<QLabel>("DeleteUserDisplay")->alignment() & Qt::AlignRight);
    QVERIFY(child<QLabel>("AddRecordLable")->frameShape() != QFrame::NoFrame);
}

void MainWindowLayoutTest::editorLimits()
{
    auto* name = child<QLineEdit>("NameEdit");
    auto* password = child<QLineEdit>("PPEdit");
    auto* path = child<QLineEdit>("DPEdit");
    QTest::keyClicks(name, "abcdefghijklmnopq");
    QCOMPARE(name->text(), QStringLiteral("abcdefghijklmno"));
    QTest::keyClicks(password, "123456789");
    QCOMPARE(password->text(), QStringLiteral("12345678"));
    QCOMPARE(password->echoMode(), QLineEdit::Normal);
    const QString longPath = QStringLiteral("/data").repeated(60);
    QTest::keyClicks(path, longPath);
    QCOMPARE(path->text(), longPath);
    name->clear();
    password->clear();
    path->clear();
}

void MainWindowLayoutTest::editorTabOrder()
{
    auto* pages = child<QTabWidget>("UserPages");
    pages->setCurrentWidget(child<QWidget>("ActionSheet"));
    m_form->show();
    QApplication::setActiveWindow(m_form);
    QVERIFY(QTest::qWaitForWindowActive(m_form));

    const QStringList order{"NameEdit", "PPEdit",  "DPEdit",  "ARCombo", "DRCombo",
                            "MRCombo",  "AUCombo", "MUCombo", "DUCombo"};
    child<QWidget>(order.first())->setFocus();
    QCOMPARE(QApplication::focusWidget()->objectName(), order.first());
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
    }
    m_form->hide();
    pages->setCurrentIndex(0);
}

void MainWindowLayoutTest::fontsAndColours()
{
    const QColor navy(0, 0, 128), blue(0, 0, 255), pale(231, 240, 191);
    const QFont font = m_form->font();
    QCOMPARE(font.family(), QStringLiteral("Arial"));
    QCOMPARE(font.pointSize(), 9);
    QVERIFY(font.bold());

    QCOMPARE(child<QLabel>("UserNameLabel")->palette().color(QPalette::WindowText), navy);
    QVERIFY(child<QLabel>("UserNameLabel")->font().bold());
    auto* heading = child<QLabel>("Label13");
    QCOMPARE(heading->palette().color(QPalette::WindowText), blue);
    QCOMPARE(heading->font().pointSize(), 11);
    QVERIFY(heading->font().bold());
    for (const char* name : {"UserRightsLabel", "Label12", "Label5", "Label2"})
        QCOMPARE(child<QLabel>(name)->palette().color(QPalette::WindowText), blue);

    // Editor labels are plain; its edit boxes bold black on pale.
    QVERIFY(!child<QLabel>("Label1")->font().bold());
    QVERIFY(!child<QLabel>("Label8")->font().bold());
    QCOMPARE(child<QLabel>("Label8")->palette().color(QPalette::WindowText), navy);
    auto* edit = child<QLineEdit>("NameEdit");
    QVERIFY(edit->font().bold());
    QCOMPARE(edit->palette().color(QPalette::Base), pale);
    QCOMPARE(edit->palette().color(QPalette::Text), QColor(Qt::black));
    QCOMPARE(child<QComboBox>("MUCombo")->palette().color(QPalette::Base), pale);

    for (const char* name : {"UserNameDisplay", "AddRecordLable", "AddUsersDisplay"}) {
        auto* panel = child<QLabel>(name);
        QVERIFY2(panel->autoFillBackground(), name);
        QCOMPARE(panel->palette().color(QPalette::Window), pale);
    }
    QCOMPARE(child<QListWidget>("UserNames")->palette().color(QPalette::Base), pale);
    QCOMPARE(child<QListWidget>("AccoTypeListBox")->palette().color(QPalette::Base), pale);
    QCOMPARE(child<QPlainTextEdit>("DescriptionLabel")->palette().color(QPalette::Base),
             QColor(192, 192, 192));
}

void MainWindowLayoutTest::pictures()
{
    const QIcon icon = m_form->windowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));

    auto* browse = child<QToolButton>("BrowseBtn");
    QVERIFY(browse->autoRaise());
    const QImage normal = browse->icon().pixmap(16, 16, QIcon::Normal).toImage();
    const QImage disabled = browse->icon().pixmap(16, 16, QIcon::Disabled).toImage();
    QCOMPARE(normal.size(), QSize(16, 16));
    QVERIFY(normal != disabled);
    // The base is red while enabled and grey while disabled.
    const QColor base = normal.pixelColor(7, 13);
    QVERIFY(base.red() > 200 && base.green() < 50 && base.blue() < 50);
    const QColor greyBase = disabled.pixelColor(7, 13);
    QCOMPARE(greyBase.red(), greyBase.green());
    QCOMPARE(greyBase.green(), greyBase.blue());
}

QTEST_MAIN(MainWindowLayoutTest)
#include "MainWindowLayoutTest.moc"
