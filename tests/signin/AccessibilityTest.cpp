#include "session/Session.h"
#include "signin/NewID_Form.h"
#include "signin/PassWords.h"
#include "support/AccessibleNames.h"

#include <QTest>

#include <memory>

// What a screen reader announces for the sign-in dialogs' entries, and the
// order in which Tab walks them.
class SignInAccessibilityTest : public QObject
{
    Q_OBJECT

private:
    Session m_session{"Gatekeep.acl"};
    std::unique_ptr<TPassWords> m_login;
    std::unique_ptr<TNewID_Form> m_newId;

    QDialog* dialog(const QString& name) const
    {
        if (name == QLatin1String("PassWords"))
            return m_login.get();
        return m_newId.get();
    }

private slots:
    void initTestCase()
    {
        m_login = std::make_unique<TPassWords>(m_session);
        m_newId = std::make_unique<TNewID_Form>(m_session, QStringLiteral("/"));
    }

    void cleanupTestCase()
    {
        m_newId.reset();
        m_login.reset();
    }

    void entryNames_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("login name") << "PassWords"
                                    << "ELoginName"
                                    << "Login name";
        QTest::newRow("login password") << "PassWords"
                                        << "EPersonal_Code"
                                        << "Password";
        QTest::newRow("first-use login ID") << "NewID_Form"
                                            << "ELoginName"
                                            << "Login ID";
        QTest::newRow("first-use password") << "NewID_Form"
                                            << "EPersonal_Code"
                                            << "Password";
    }

    void entryNames()
    {
        QFETCH(QString, window);
        QFETCH(QString, control);
        QFETCH(QString, name);
        auto* widget = dialog(window)->findChild<QWidget*>(control);
        QVERIFY(widget);
        QCOMPARE(announcedName(widget), name);
    }

    void everyEntryHasAName_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("login") << "PassWords";
        QTest::newRow("first use") << "NewID_Form";
    }

    void everyEntryHasAName()
    {
        QFETCH(QString, window);
        QCOMPARE(unnamedEntries(dialog(window)), QStringList());
    }

    void tabOrder_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("order");
        // The buttons of the login dialog take no focus.
        QTest::newRow("login") << "PassWords" << QStringList{"ELoginName", "EPersonal_Code"};
        QTest::newRow("first use")
            << "NewID_Form"
            << QStringList{"Done_Button", "Terminate_Button", "ELoginName", "EPersonal_Code"};
    }

    void tabOrder()
    {
        QFETCH(QString, window);
        QFETCH(QStringList, order);
        QWidget* at = dialog(window)->findChild<QWidget*>(order.first());
        QVERIFY(at);
        // Round and back to the first.
        for (int i = 1; i <= order.size(); ++i) {
            at = nextTabStop(at);
            QCOMPARE(at->objectName(), order[i % order.size()]);
        }
    }
};

QTEST_MAIN(SignInAccessibilityTest)
#include "AccessibilityTest.moc"
