// Every dialog opens over the window it belongs to and wholly inside the
// screen's available area, on a 1280x1024 screen at the scale factor the
// test is run with (QT_SCALE_FACTOR): at 2 the new-account dialog's fixed
// position lay off the screen, its Cancel button cut off.
#include "app/SecurityManager.h"
#include "support/MainWindowFixture.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"
#include "ui/WriterWaitDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// Where a dialog stood when it came, and what it was over.
struct Seen
{
    QRect frame;
    QRect area;
    QRect cancel; // the new-account dialog's Cancel button, on the screen
    bool shown = false;
};

void look(QDialog* dialog, Seen& seen)
{
    seen.shown = true;
    seen.frame = dialog->frameGeometry();
    seen.area = dialog->screen()->availableGeometry();
    if (auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("SpeedButton1")))
        seen.cancel = QRect(cancel->mapToGlobal(QPoint(0, 0)), cancel->size());
}

// Where the main window stands while a dialog opens over it.
enum class Spot
{
    Centred,
    TopLeft,
    BottomRight
};

} // namespace

Q_DECLARE_METATYPE(Spot)

class ScreenFitTest : public QObject, public MainWindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup()
    {
        dropPendingDialogDrivers();
        resetTerminateRequest();
        tearDown();
    }

    void theScreenIsTheReportedOne();
    void theLoginDialogFits();
    void theFirstUseDialogFits();
    void dialogsOverTheMainWindowFit_data();
    void theNewAccountDialogFits();
    void theNewAccountDialogFits_data() { dialogsOverTheMainWindowFit_data(); }
    void theMyPasswordDialogFits();
    void theMyPasswordDialogFits_data() { dialogsOverTheMainWindowFit_data(); }
    void theWriterWaitBoxFits();
    void theWriterWaitBoxFits_data() { dialogsOverTheMainWindowFit_data(); }
    void aMessageBoxFits();
    void aMessageBoxFits_data() { dialogsOverTheMainWindowFit_data(); }

private:
    // Signed in, the main window shown, active, at `spot`.
    void mainWindowAt(Spot spot);
    void verifyInside(const Seen& seen);
};

void ScreenFitTest::theScreenIsTheReportedOne()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                            : 1.0;
    // In whole logical pixels, so within a pixel of the scale.
    QVERIFY(qAbs(screen->geometry().width() * scale - 1280) < scale);
    QVERIFY(qAbs(screen->geometry().height() * scale - 1024) < scale);
}

void ScreenFitTest::verifyInside(const Seen& seen)
{
    QVERIFY(seen.shown);
    QVERIFY2(seen.area.contains(seen.frame),
             qPrintable(QStringLiteral("frame %1,%2 %3x%4 outside %5x%6")
                            .arg(seen.frame.x())
                            .arg(seen.frame.y())
                            .arg(seen.frame.width())
                            .arg(seen.frame.height())
                            .arg(seen.area.width())
                            .arg(seen.area.height())));
}

void ScreenFitTest::theLoginDialogFits()
{
    Seen seen;
    onNextModal([&](QDialog* dialog) {
        look(dialog, seen);
        requestTerminate();
    });
    m_scripted->answer(MessageBox::Button::Ok); // nobody signed in
    SecurityManager manager(QDir::currentPath());
    manager.start();
    verifyInside(seen);
    // No window to belong to: the middle of the screen.
    QVERIFY(qAbs(seen.frame.center().x() - seen.area.center().x()) <= 1);
    QVERIFY(qAbs(seen.frame.center().y() - seen.area.center().y()) <= 1);
}

void ScreenFitTest::theFirstUseDialogFits()
{
    QVERIFY(QDir(m_dir->path()).remove(QStringLiteral("Gatekeep.acl")));
    m_dir->touch(QStringLiteral("~first.log"));
    Seen seen;
    onNextModal([&](QDialog* dialog) {
        look(dialog, seen);
        requestTerminate();
    });
    SecurityManager manager(QDir::currentPath());
    manager.start();
    verifyInside(seen);
}

void ScreenFitTest::dialogsOverTheMainWindowFit_data()
{
    QTest::addColumn<Spot>("spot");
    QTest::newRow("main window centred") << Spot::Centred;
    QTest::newRow("main window top left") << Spot::TopLeft;
    QTest::newRow("main window bottom right") << Spot::BottomRight;
}

void ScreenFitTest::mainWindowAt(Spot spot)
{
    signIn();
    QWidget* main = m_window->get();
    const QRect area = main->screen()->availableGeometry();
    QRect frame = main->frameGeometry();
    switch (spot) {
    case Spot::Centred:
        break;
    case Spot::TopLeft:
        frame.moveTopLeft(area.topLeft());
        break;
    case Spot::BottomRight:
        frame.moveBottomRight(area.bottomRight());
        break;
    }
    main->move(frame.topLeft());
    main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main));
}

void ScreenFitTest::theNewAccountDialogFits()
{
    QFETCH(Spot, spot);
    mainWindowAt(spot);
    if (QTest::currentTestFailed())
        return;
    const QList<QListWidgetItem*> admin =
        users()->findItems(QStringLiteral("admin"), Qt::MatchExactly);
    QCOMPARE(admin.size(), 1);
    QTest::mouseClick(users()->viewport(), Qt::LeftButton, {},
                      users()->visualItemRect(admin.first()).center());
    find<QTabWidget>("UserPages")->setCurrentWidget(find<QWidget>("UserBankAccountInfoSheet"));

    Seen seen;
    onNextModal([&](QDialog* dialog) {
        look(dialog, seen);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("SpeedButton1")),
                          Qt::LeftButton);
    });
    QTest::mouseClick(find<QPushButton>("NewAccoBtn"), Qt::LeftButton);
    verifyInside(seen);
    QVERIFY(seen.area.contains(seen.cancel));

    // Its designed place where the whole dialog fits there, as at scale 1.
    const QPoint designed(416, 138);
    if (seen.area.contains(QRect(designed, seen.frame.size())))
        QCOMPARE(seen.frame.topLeft(), designed);
    else if (spot == Spot::Centred)
        QVERIFY(qAbs(seen.frame.center().x() - m_window->get()->frameGeometry().center().x()) <= 1);
}

void ScreenFitTest::theMyPasswordDialogFits()
{
    QFETCH(Spot, spot);
    mainWindowAt(spot);
    if (QTest::currentTestFailed())
        return;
    Seen seen;
    onNextModal([&](QDialog* dialog) {
        look(dialog, seen);
        dialog->reject();
    });
    QTest::mouseClick(find<QPushButton>("PasswordButton"), Qt::LeftButton);
    verifyInside(seen);
    const QRect owner = m_window->get()->frameGeometry();
    QVERIFY(owner.intersects(seen.frame));
    if (spot == Spot::Centred)
        QVERIFY(qAbs(seen.frame.center().x() - owner.center().x()) <= 1);
}

void ScreenFitTest::theWriterWaitBoxFits()
{
    QFETCH(Spot, spot);
    mainWindowAt(spot);
    if (QTest::currentTestFailed())
        return;
    const auto follow = WriterWaitDialog::follower(QStringLiteral("Waiting."));
    QVERIFY(follow(Session::WriterWait::Begins));
    QTest::qWait(300);
    QVERIFY(follow(Session::WriterWait::Goes));
    auto* box = m_window->get()->findChild<WriterWaitDialog*>();
    QVERIFY(box && box->isVisible());
    Seen seen;
    look(box, seen);
    follow(Session::WriterWait::Ends);
    verifyInside(seen);
}

void ScreenFitTest::aMessageBoxFits()
{
    QFETCH(Spot, spot);
    mainWindowAt(spot);
    if (QTest::currentTestFailed())
        return;
    MessageBox::setScript({});
    Seen seen;
    onNextModal([&](QDialog* dialog) {
        look(dialog, seen);
        QTest::mouseClick(qobject_cast<QMessageBox*>(dialog)->button(QMessageBox::Ok),
                          Qt::LeftButton);
    });
    MessageBox::show(MessageBox::Kind::Warning,
                     QStringLiteral("Another copy of the Security Manager has Gatekeep.acl open."));
    m_scripted = std::make_unique<ScriptedUi>();
    verifyInside(seen);
}

int main(int argc, char* argv[])
{
    // A screen of the size the fault was seen on; the scale factor is the
    // test's environment's.
    QTemporaryDir configDir;
    const QString config = configDir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(R"({"screens": [{"name": "reported", "x": 0, "y": 0, "width": 1280,
                    "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") < 0)
        return 1;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    ScreenFitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ScreenFitTest.moc"
