#include "accounts/NewAccoForm.h"
#include "support/AccessibleNames.h"

#include <QTest>

#include <memory>

// What a screen reader announces for the new-account dialog's entries. (Its
// tab order is tested with the dialog's layout.)
class NewAccountAccessibilityTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TNewAccoForm> m_dialog;

private slots:
    void initTestCase() { m_dialog = std::make_unique<TNewAccoForm>(); }
    void cleanupTestCase() { m_dialog.reset(); }

    void entryNames_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("name") << "NameEdit"
                              << "Account Name";
        QTest::newRow("description") << "DescriptionMemo"
                                     << "Description";
    }

    void entryNames()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        auto* widget = m_dialog->findChild<QWidget*>(control);
        QVERIFY(widget);
        QCOMPARE(announcedName(widget), name);
    }

    void everyEntryHasAName() { QCOMPARE(unnamedEntries(m_dialog.get()), QStringList()); }
};

QTEST_MAIN(NewAccountAccessibilityTest)
#include "AccessibilityTest.moc"
