#include "admin/MainForm.h"
#include "support/AccessibleNames.h"
#include "support/ScriptedUi.h"
#include "support/SignedInMainForm.h"
#include "support/TempWorkDir.h"

#include <QTest>

#include <memory>

// What a screen reader announces for the main window's entries: the words
// of the caption or label beside each. (The editor's tab order is tested
// with the window's layout.)
class MainWindowAccessibilityTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<ScriptedUi> m_ui;
    std::unique_ptr<SignedInMainWindow> m_window;

private slots:
    void initTestCase()
    {
        m_dir = std::make_unique<TempWorkDir>();
        m_dir->copyFixture(QStringLiteral("three-users.acl"));
        m_ui = std::make_unique<ScriptedUi>();
        m_window = std::make_unique<SignedInMainWindow>();
        QVERIFY(m_window->signedIn());
    }

    void cleanupTestCase()
    {
        m_window.reset();
        QCOMPARE(m_ui->problems(), QString());
        m_ui.reset();
        m_dir.reset();
    }

    void entryNames_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("user list") << "UserNames"
                                   << "Users Avaliable";
        QTest::newRow("name") << "NameEdit"
                              << "User Name";
        QTest::newRow("password") << "PPEdit"
                                  << "User Personal Pass";
        QTest::newRow("data path") << "DPEdit"
                                   << "User Database Path";
        QTest::newRow("browse") << "BrowseBtn"
                                << "Browse...";
        QTest::newRow("add record") << "ARCombo"
                                    << "Add Record";
        QTest::newRow("delete record") << "DRCombo"
                                       << "Delete Record";
        QTest::newRow("modify record") << "MRCombo"
                                       << "Modify Record";
        QTest::newRow("add users") << "AUCombo"
                                   << "Add Users";
        QTest::newRow("modify users") << "MUCombo"
                                      << "Modify Users";
        QTest::newRow("delete user") << "DUCombo"
                                     << "Delete User";
        QTest::newRow("account list") << "AccoTypeListBox"
                                      << "User Account(s)";
        QTest::newRow("account description") << "DescriptionLabel"
                                             << "Description";
    }

    void entryNames()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        QCOMPARE(announcedName(m_window->find<QWidget>(qPrintable(control))), name);
    }

    void everyEntryHasAName() { QCOMPARE(unnamedEntries(m_window->get()), QStringList()); }
};

QTEST_MAIN(MainWindowAccessibilityTest)
#include "AccessibilityTest.moc"
