#include "session/Session.h"
#include "support/Keyboard.h"
#include "support/ScriptedUi.h"
#include "ui/AppTitle.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(MessageBox::Buttons)
Q_DECLARE_METATYPE(MessageBox::Button)

namespace {

// A dialog that, like the sign-in dialogs, refuses every ordinary close.
class GuardedDialog : public QDialog
{
public:
    void reject() override {}
};

} // namespace

class ToolkitLayerTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { resetTerminateRequest(); }

    void unstorableCharactersAreRefused()
    {
        // The euro sign, a C1 control and Y with diaeresis are the table's
        // bytes 0x80, 0x81 and 0x9F.
        QVERIFY(isStorableText(QStringLiteral(u"\u20ac\u0081\u0178\u00e9")));
        QVERIFY(!isStorableText(QStringLiteral(u"a\u0100")));

        QLineEdit edit;
        restrictToStorable(&edit);
        typeText(&edit, QStringLiteral(u"caf\u00e9\u4e2d\u20ac"));
        QCOMPARE(edit.text(), QStringLiteral(u"caf\u00e9\u20ac"));

        QPlainTextEdit memo;
        restrictToStorable(&memo);
        typeText(&memo, QStringLiteral(u"ab\u4e2dc"));
        QCOMPARE(memo.toPlainText(), QStringLiteral("abc"));
    }

    void ioErrorTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("not found") << 2 << "File not found.";
        QTest::newRow("filename") << 3 << "Invalid filename.";
        QTest::newRow("open files") << 4 << "Too many open files.";
        QTest::newRow("access") << 5 << "File access denied.";
        QTest::newRow("end of file") << 100 << "Read beyond end of file.";
        QTest::newRow("disk full") << 101 << "Disk full.";
        // A digit has a higher code than the full stop, so it gets one too.
        QTest::newRow("other") << 13 << "I/O error 13.";
    }

    void ioErrorTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        ScriptedUi scripted;
        scripted.answer(MessageBox::Button::Ok);
        ChangeResult failed;
        failed.outcome = ChangeResult::Outcome::Failed;
        failed.message = Session::fileErrorText(code);
        failed.errorCode = code;
        QVERIFY(showFailure(failed));
        QCOMPARE(scripted.shown.size(), 1);
        QCOMPARE(scripted.shown[0].text, text);
        QVERIFY(scripted.problems().isEmpty());
    }

    // Each outcome of a change, as every window tells it.
    void changeResultsAreToldAlike_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("signedOutTold");
        QTest::addColumn<bool>("notMade");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        using O = ChangeResult::Outcome;
        using R = ChangeResult::Reason;
        const QString none;
        QTest::newRow("failed") << int(O::Failed) << int(R::None) << true << true
                                << int(MessageBox::Kind::Error) << applicationTitle()
                                << QStringLiteral("Disk full.");
        QTest::newRow("refused") << int(O::Refused) << int(R::DuplicateUser) << true << true
                                 << int(MessageBox::Kind::Error) << QStringLiteral("Error")
                                 << QStringLiteral("User already exist.");
        QTest::newRow("signed out, told")
            << int(O::Refused) << int(R::SignedOut) << true << true << -1 << none << none;
        QTest::newRow("signed out, not told")
            << int(O::Refused) << int(R::SignedOut) << false << true << int(MessageBox::Kind::Error)
            << QStringLiteral("Error") << QStringLiteral("You are signed out.");
        QTest::newRow("done") << int(O::Done) << int(R::None) << true << false << -1 << none
                              << none;
        QTest::newRow("done with a warning")
            << int(O::Done) << int(R::None) << true << false << int(MessageBox::Kind::Warning)
            << QStringLiteral("Warning") << QStringLiteral("Saved, but late.");
        QTest::newRow("cancelled")
            << int(O::Cancelled) << int(R::None) << true << false << -1 << none << none;
        QTest::newRow("reloaded") << int(O::Reloaded) << int(R::None) << true << false << -1 << none
                                  << none;
    }

    void changeResultsAreToldAlike()
    {
        QFETCH(int, outcome);
        QFETCH(int, reason);
        QFETCH(bool, signedOutTold);
        QFETCH(bool, notMade);
        QFETCH(int, kind);
        QFETCH(QString, title);
        QFETCH(QString, text);
        ScriptedUi scripted;
        if (kind >= 0)
            scripted.answer(MessageBox::Button::Ok);
        ChangeResult result;
        result.outcome = static_cast<ChangeResult::Outcome>(outcome);
        result.reason = static_cast<ChangeResult::Reason>(reason);
        if (result.outcome == ChangeResult::Outcome::Failed)
            result.message = Session::fileErrorText(101);
        else if (result.outcome == ChangeResult::Outcome::Refused)
            result.message = text.isEmpty() ? "gone" : text.toStdString();
        else if (!text.isEmpty())
            result.warning = text.toStdString();
        QCOMPARE(showFailure(result, signedOutTold), notMade);
        if (!notMade)
            showWarning(result);
        QCOMPARE(scripted.shown.size(), kind < 0 ? 0 : 1);
        if (kind >= 0) {
            QCOMPARE(int(scripted.shown[0].kind), kind);
            QCOMPARE(scripted.shown[0].title, title);
            QCOMPARE(scripted.shown[0].text, text);
            QCOMPARE(scripted.shown[0].buttons, MessageBox::Buttons::Ok);
        }
        QVERIFY(scripted.problems().isEmpty());
    }

    void realBoxKeys_data()
    {
        QTest::addColumn<MessageBox::Buttons>("buttons");
        QTest::addColumn<int>("key");
        QTest::addColumn<MessageBox::Button>("expected");
        QTest::newRow("ok, enter")
            << MessageBox::Buttons::Ok << int(Qt::Key_Return) << MessageBox::Button::Ok;
        QTest::newRow("yes/no, enter")
            << MessageBox::Buttons::YesNo << int(Qt::Key_Return) << MessageBox::Button::Yes;
        QTest::newRow("yes/no, escape")
            << MessageBox::Buttons::YesNo << int(Qt::Key_Escape) << MessageBox::Button::No;
        QTest::newRow("yes/no/cancel, escape") << MessageBox::Buttons::YesNoCancel
                                               << int(Qt::Key_Escape) << MessageBox::Button::Cancel;
    }

    void realBoxKeys()
    {
        QFETCH(MessageBox::Buttons, buttons);
        QFETCH(int, key);
        QFETCH(MessageBox::Button, expected);
        QString title, text;
        Qt::TextFormat format = Qt::AutoText;
        onNextModal([&](QDialog* dialog) {
            title = dialog->windowTitle();
            text = static_cast<QMessageBox*>(dialog)->text();
            format = static_cast<QMessageBox*>(dialog)->textFormat();
            QTest::keyClick(dialog, Qt::Key(key));
        });
        QCOMPARE(MessageBox::show(MessageBox::Kind::Confirmation, "Proceed?", buttons), expected);
        QCOMPARE(title, QStringLiteral("Confirm"));
        QCOMPARE(text, QStringLiteral("Proceed?"));
        QCOMPARE(format, Qt::PlainText);
    }

    void scriptedBoxesAreAnsweredAndChecked()
    {
        ScriptedUi scripted;
        scripted.answer(MessageBox::Button::Yes);
        QCOMPARE(MessageBox::show(MessageBox::Kind::Warning, "Sure?", MessageBox::Buttons::YesNo),
                 MessageBox::Button::Yes);
        QCOMPARE(scripted.shown[0].title, QStringLiteral("Warning"));
        QVERIFY(scripted.problems().isEmpty());

        scripted.answer(MessageBox::Button::No);
        QVERIFY(scripted.problems().contains("left unused"));
        QCOMPARE(MessageBox::show(MessageBox::Kind::Error, "x"), MessageBox::Button::No);

        // A box nobody answered fails the test at once instead of blocking.
        QEXPECT_FAIL("", "no answer was queued for this box", Continue);
        QCOMPARE(MessageBox::show(MessageBox::Kind::Information, "Unplanned"),
                 MessageBox::Button::Cancel);
        QVERIFY(scripted.problems().contains("unexpected message box: Unplanned"));
    }

    void terminateEndsARunningGuardedDialog()
    {
        GuardedDialog dialog;
        QTimer::singleShot(0, &dialog, [&] {
            QTest::keyClick(&dialog, Qt::Key_Escape); // refused
            QVERIFY(dialog.isVisible());
            requestTerminate();
        });
        QCOMPARE(execModal(dialog), int(QDialog::Rejected));
        QVERIFY(terminateRequested());
    }

    void afterTerminateEveryModalReturnsAtOnce()
    {
        requestTerminate();
        GuardedDialog dialog;
        QCOMPARE(execModal(dialog), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(MessageBox::show(MessageBox::Kind::Error, "Never seen"),
                 MessageBox::Button::Cancel);
    }
};

QTEST_MAIN(ToolkitLayerTest)
#include "ToolkitLayerTest.moc"
