#include "accounts/NewAccoForm.h"
#include "support/AccessibleNames.h"
#include "support/Keyboard.h"
#include "support/ScriptedUi.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

QString repeated(QChar c, int n)
{
    return QString(n, c);
}

} // namespace

class NewAccoFormTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedUi> m_scripted;
    std::unique_ptr<TNewAccoForm> m_dialog;

    QLineEdit* nameEdit() const { return m_dialog->findChild<QLineEdit*>("NameEdit"); }
    QPlainTextEdit* memo() const { return m_dialog->findChild<QPlainTextEdit*>("DescriptionMemo"); }
    QPushButton* saveBtn() const { return m_dialog->findChild<QPushButton*>("SaveBtn"); }
    QPushButton* cancelBtn() const { return m_dialog->findChild<QPushButton*>("SpeedButton1"); }

    void showDialog()
    {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    }

    QString storedName() const { return QString::fromLatin1(m_dialog->AccoRec().name); }
    QByteArray storedDescription() const
    {
        const std::string d = m_dialog->AccoRec().description;
        return QByteArray(d.data(), static_cast<qsizetype>(d.size()));
    }

private slots:
    void init()
    {
        m_scripted = std::make_unique<ScriptedUi>();
        m_dialog = std::make_unique<TNewAccoForm>();
    }

    void cleanup()
    {
        m_dialog.reset();
        QCOMPARE(m_scripted->problems(), QString());
        m_scripted.reset();
    }

    void layoutAndInitialState()
    {
        QCOMPARE(m_dialog->objectName(), QStringLiteral("NewAccoForm"));
        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("New Account"));
        const Qt::WindowFlags flags = m_dialog->windowFlags();
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(!flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(m_dialog->minimumSize(), QSize(324, 148));
        QCOMPARE(m_dialog->maximumSize(), QSize(324, 148));
        // Its designed place, where it fits on the screen (800x600 here).
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QCOMPARE(m_dialog->pos(), QPoint(416, 138));
        m_dialog->hide();

        const struct
        {
            const char* name;
            QRect geometry;
            const char* text;
        } controls[] = {
            {"AccountNameLabel", QRect(2, 2, 92, 13), "Account Name :"},
            {"NameEdit", QRect(34, 18, 263, 21), ""},
            {"DescriptionLabel", QRect(4, 44, 73, 13), "Description :"},
            {"DescriptionMemo", QRect(34, 60, 263, 61), "No description."},
            {"SaveBtn", QRect(64, 124, 95, 22), "Save"},
            {"SpeedButton1", QRect(162, 124, 95, 22), "Cancel"},
        };
        for (const auto& c : controls) {
            auto* w = m_dialog->findChild<QWidget*>(c.name);
            QVERIFY2(w, c.name);
            QCOMPARE(w->geometry(), c.geometry);
            QString text;
            if (auto* label = qobject_cast<QLabel*>(w))
                text = label->text();
            else if (auto* edit = qobject_cast<QLineEdit*>(w))
                text = edit->text();
            else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
                text = plain->toPlainText();
            else if (auto* button = qobject_cast<QPushButton*>(w))
                text = button->text();
            QCOMPARE(text, QString::fromLatin1(c.text));
        }

        QCOMPARE(nameEdit()->maxLength(), 30);
        QCOMPARE(nextTabStop(nameEdit()), memo());
        QVERIFY(memo()->tabChangesFocus());
        for (QPushButton* button : {saveBtn(), cancelBtn()}) {
            QCOMPARE(button->focusPolicy(), Qt::NoFocus);
            QVERIFY(!button->autoDefault());
            QVERIFY(!button->isDefault());
        }
        QVERIFY(!m_dialog->Saved());
    }

    void saveWithoutNameIsRefused()
    {
        showDialog();
        m_dialog->setSaved(true);
        m_scripted->answer(MessageBox::Button::Ok);
        QTest::mouseClick(saveBtn(), Qt::LeftButton);

        QCOMPARE(m_scripted->shown.size(), 1);
        QCOMPARE(m_scripted->shown[0].kind, MessageBox::Kind::Error);
        QCOMPARE(m_scripted->shown[0].text, QStringLiteral("Please give an account Name."));
        QCOMPARE(m_scripted->shown[0].buttons, MessageBox::Buttons::Ok);
        QVERIFY(!m_dialog->Saved());
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(memo()->toPlainText(), QStringLiteral("No description."));
    }

    void saveStoresAndResets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typedDescription");
        QTest::addColumn<QByteArray>("storedName");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("one line") << "Checking"
                                  << "Main" << QByteArray("Checking") << QByteArray("Main");
        QTest::newRow("two lines, CR LF stored")
            << "Savings"
            << "Main\nBranch 12" << QByteArray("Savings") << QByteArray("Main\r\nBranch 12");
        QTest::newRow("blanks as name, empty description")
            << "   "
            << "" << QByteArray("   ") << QByteArray();
        QTest::newRow("beyond ASCII") << QString::fromUtf8("Gesch\xc3\xa4"
                                                           "ft")
                                      << QString::fromUtf8("\xe2\x82\xac account")
                                      << QByteArray("Gesch\xc3\xa4"
                                                    "ft")
                                      << QByteArray("\xe2\x82\xac account");
    }

    void saveStoresAndResets()
    {
        QFETCH(QString, name);
        QFETCH(QString, typedDescription);
        QFETCH(QByteArray, storedName);
        QFETCH(QByteArray, stored);

        showDialog();
        typeText(nameEdit(), name);
        memo()->clear();
        const QStringList lines = typedDescription.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(memo(), Qt::Key_Return);
            typeText(memo(), lines[i]);
        }
        QCOMPARE(memo()->toPlainText(), typedDescription);
        QTest::mouseClick(saveBtn(), Qt::LeftButton);

        QVERIFY(m_dialog->Saved());
        QVERIFY(!m_dialog->isVisible());
        QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
        const std::string nameBytes = m_dialog->AccoRec().name;
        QCOMPARE(QByteArray(nameBytes.data(), qsizetype(nameBytes.size())), storedName);
        QCOMPARE(storedDescription(), stored);
        QCOMPARE(nameEdit()->text(), QString());
        QCOMPARE(memo()->toPlainText(), QStringLiteral("No Description."));
    }

    void cancelEmptiesBothBoxesAndKeepsTheLastSave()
    {
        showDialog();
        QTest::keyClicks(nameEdit(), "First");
        QTest::mouseClick(saveBtn(), Qt::LeftButton);
        QVERIFY(m_dialog->Saved());

        showDialog();
        QTest::keyClicks(nameEdit(), "Second");
        QTest::mouseClick(cancelBtn(), Qt::LeftButton);
        QVERIFY(!m_dialog->Saved());
        QVERIFY(!m_dialog->isVisible());
        QCOMPARE(nameEdit()->text(), QString());
        QCOMPARE(memo()->toPlainText(), QString());
        QCOMPARE(storedName(), QStringLiteral("First"));
        QCOMPARE(storedDescription(), QByteArray("No description."));

        // The next use starts from what Cancel left: an empty description.
        showDialog();
        QTest::keyClicks(nameEdit(), "Third");
        QTest::mouseClick(saveBtn(), Qt::LeftButton);
        QVERIFY(m_dialog->Saved());
        QCOMPARE(storedName(), QStringLiteral("Third"));
        QCOMPARE(storedDescription(), QByteArray());
    }

    void otherClosesActAsCancel_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Escape") << true;
        QTest::newRow("close request") << false;
    }

    void otherClosesActAsCancel()
    {
        QFETCH(bool, byEscape);
        showDialog();
        QTest::keyClicks(nameEdit(), "Old");
        QTest::mouseClick(saveBtn(), Qt::LeftButton);
        QVERIFY(m_dialog->Saved());

        bool ran = false;
        onNextModal([&](QDialog* d) {
            ran = true;
            QCOMPARE(d, static_cast<QDialog*>(m_dialog.get()));
            QTest::keyClicks(nameEdit(), "New");
            if (byEscape)
                QTest::keyClick(nameEdit(), Qt::Key_Escape);
            else
                d->close();
        });
        execModal(*m_dialog);
        QVERIFY(ran);
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(!m_dialog->Saved());
        QCOMPARE(storedName(), QStringLiteral("Old"));
        QCOMPARE(nameEdit()->text(), QString());
        QCOMPARE(memo()->toPlainText(), QString());
    }

    void enterIsNotBoundToAButton()
    {
        showDialog();
        QTest::keyClicks(nameEdit(), "Name");
        QTest::keyClick(nameEdit(), Qt::Key_Return);
        QTest::keyClick(nameEdit(), Qt::Key_Enter);
        QVERIFY(m_dialog->isVisible());
        QVERIFY(!m_dialog->Saved());
        QCOMPARE(nameEdit()->text(), QStringLiteral("Name"));
    }

    void nameTakesThirtyCharacters()
    {
        showDialog();
        QTest::keyClicks(nameEdit(), repeated('n', 31));
        QCOMPARE(nameEdit()->text(), repeated('n', 30));
        typeText(nameEdit(), QString::fromUtf8("\xe4\xb8\xad"));
        QCOMPARE(nameEdit()->text().size(), 30);
    }

    // Each line break counts as the two characters CR LF that are stored.
    void descriptionHoldsSeventyStoredCharacters_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("cursorAt");
        QTest::addColumn<QString>("typed"); // '\n' is typed as Return
        QTest::addColumn<QString>("expected");
        const QString a69 = repeated('a', 69);
        const QString a68 = repeated('a', 68);
        QTest::newRow("typing stops at 70")
            << QString() << 0 << repeated('x', 75) << repeated('x', 70);
        QTest::newRow("break refused at 69") << a69 << 69 << "\nb" << a69 + "b";
        QTest::newRow("break fits at 68") << a68 << 68 << "\nb" << a68 + "\n";
        QTest::newRow("typing in the middle keeps the end")
            << repeated('a', 30) + "\n" + repeated('c', 37) << 10 << "XYZ"
            << repeated('a', 10) + "X" + repeated('a', 20) + "\n" + repeated('c', 37);
    }

    void descriptionHoldsSeventyStoredCharacters()
    {
        QFETCH(QString, start);
        QFETCH(int, cursorAt);
        QFETCH(QString, typed);
        QFETCH(QString, expected);

        showDialog();
        memo()->setPlainText(start);
        QTextCursor cursor = memo()->textCursor();
        cursor.setPosition(cursorAt);
        memo()->setTextCursor(cursor);
        for (QChar c : typed) {
            if (c == QLatin1Char('\n'))
                QTest::keyClick(memo(), Qt::Key_Return);
            else
                QTest::keyClick(memo(), c.toLatin1());
        }
        QCOMPARE(memo()->toPlainText(), expected);

        QTest::keyClicks(nameEdit(), "N");
        QTest::mouseClick(saveBtn(), Qt::LeftButton);
        QVERIFY(storedDescription().size() <= 70);
        QCOMPARE(storedDescription(), expected.replace("\n", "\r\n").toLatin1());
    }

    void pastedTextIsCutFromItsEnd()
    {
        showDialog();
        memo()->setPlainText("head tail");
        QTextCursor cursor = memo()->textCursor();
        cursor.setPosition(5);
        memo()->setTextCursor(cursor);
        // 9 kept + 30 pasted lines of "p\n": each line costs 3.
        memo()->insertPlainText(QString("p\n").repeated(30));
        const QString text = memo()->toPlainText();
        QVERIFY(text.startsWith("head "));
        QVERIFY(text.endsWith("tail"));
        const int stored = int(text.size() + text.count('\n'));
        QVERIFY2(stored <= 70 && stored >= 68, qPrintable(QString::number(stored)));
        QCOMPARE(memo()->textCursor().position(), int(text.size()) - 4);

        memo()->insertPlainText(QString::fromUtf8("\xe4\xb8\xad"));
        QCOMPARE(memo()->toPlainText(), text);
    }

    // Modify shows a stored entry; Save keeps what was not changed byte for
    // byte, however the boxes showed its breaks and blanks, and re-encodes
    // only what was.
    void modifyKeepsUnchangedTextsAsStored_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<QString>("typed"); // appended to the description
        QTest::addColumn<QByteArray>("storedDescription");

        QTest::newRow("CR LF") << QByteArray("Checking") << QByteArray("Main account.\r\nBranch 12")
                               << "" << QByteArray("Main account.\r\nBranch 12");
        QTest::newRow("lone LF") << QByteArray("Checking") << QByteArray("one\ntwo") << ""
                                 << QByteArray("one\ntwo");
        QTest::newRow("lone CR") << QByteArray("Checking") << QByteArray("one\rtwo") << ""
                                 << QByteArray("one\rtwo");
        QTest::newRow("no-break space") << QByteArray("Non\xc2\xa0stop")
                                        << QByteArray("a\xc2\xa0"
                                                      "b")
                                        << ""
                                        << QByteArray("a\xc2\xa0"
                                                      "b");
        QTest::newRow("changed: re-encoded")
            << QByteArray("Checking") << QByteArray("one\ntwo") << "!" << QByteArray("one\r\ntwo!");
    }

    void modifyKeepsUnchangedTextsAsStored()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, description);
        QFETCH(QString, typed);
        QFETCH(QByteArray, storedDescription);

        AccountData plain;
        plain.name = name.toStdString();
        plain.description = description.toStdString();
        m_dialog->setEntry(plain);
        QCOMPARE(nameEdit()->text(), QString::fromUtf8(name));
        showDialog();
        if (!typed.isEmpty()) {
            memo()->moveCursor(QTextCursor::End);
            QTest::keyClicks(memo(), typed);
        }
        QTest::mouseClick(saveBtn(), Qt::LeftButton);
        QVERIFY(m_dialog->Saved());
        const std::string nameBytes = m_dialog->AccoRec().name;
        QCOMPARE(QByteArray(nameBytes.data(), qsizetype(nameBytes.size())), name);
        QCOMPARE(this->storedDescription(), storedDescription);

        // The next New starts from scratch: nothing of the entry is kept.
        showDialog();
        QTest::keyClicks(nameEdit(), "Other");
        QTest::mouseClick(saveBtn(), Qt::LeftButton);
        QCOMPARE(this->storedDescription(), QByteArray("No Description."));
    }
};

QTEST_MAIN(NewAccoFormTest)
#include "NewAccoFormTest.moc"
