#include "ui/FolderPicker.h"
#include "tests/support/ScriptedUi.h"
#include "ui/DirectoryChooser.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

class FolderPickerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void chooseFolder_data();
    void chooseFolder();
    void folderExists();
    void chooserSitsOverTheAskingWindow_data();
    void chooserSitsOverTheAskingWindow();

private:
    std::unique_ptr<ScriptedUi> m_ui;
    QTemporaryDir m_root;
};

void FolderPickerTest::init()
{
    m_ui = std::make_unique<ScriptedUi>();
}

void FolderPickerTest::cleanup()
{
    QVERIFY2(m_ui->problems().isEmpty(), qPrintable(m_ui->problems()));
    m_ui.reset();
}

void FolderPickerTest::chooseFolder_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("chosen"); // relative to the temporary root
    QTest::addColumn<bool>("confirmed");

    QTest::newRow("folder") << false << "data" << true;
    QTest::newRow("trailing separator kept") << false << "data/" << true;
    QTest::newRow("cancelled") << true << "" << false;
    QTest::newRow("a file") << false << "file.txt" << false;
    QTest::newRow("missing") << false << "gone" << false;
    // The store keeps Windows-1252 texts: this name could not be kept.
    QTest::newRow("not storable") << false << QString::fromUtf8("данные") << false;
    QTest::newRow("259 characters") << false << "long:259" << true;
    QTest::newRow("260 characters") << false << "long:260" << false;
}

void FolderPickerTest::chooseFolder()
{
    QFETCH(bool, cancel);
    QFETCH(QString, chosen);
    QFETCH(bool, confirmed);

    QDir root(m_root.path());
    QString folder = root.filePath(chosen);
    if (chosen.startsWith(QLatin1String("long:"))) {
        const int length = chosen.mid(5).toInt();
        folder = m_root.path() + QLatin1Char('/');
        folder += QString(length - folder.size(), QLatin1Char('d'));
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(folder.size(), length);
    } else if (chosen == QLatin1String("file.txt")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (chosen != QLatin1String("gone") && !cancel) {
        QVERIFY(root.mkpath(chosen));
    }

    m_ui->chooseFolder(cancel ? std::nullopt : std::optional<QString>(folder));
    QString path = QStringLiteral("previous");
    QCOMPARE(::ChooseFolder(QStringLiteral("Database Directory"), QString(), path), confirmed);
    QCOMPARE(path, confirmed ? folder : QString());
    QCOMPARE(m_ui->folderCaptions, QStringList{QStringLiteral("Database Directory")});
}

void FolderPickerTest::folderExists()
{
    QDir root(m_root.path());
    QVERIFY(root.mkdir(QStringLiteral("kept")));
    QVERIFY(root.mkdir(QStringLiteral("removed")));
    QFile file(root.filePath(QStringLiteral("plain")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QVERIFY(FolderExists(root.filePath(QStringLiteral("kept"))));
    QVERIFY(FolderExists(m_root.path()));
    QVERIFY(!FolderExists(QString()));
    QVERIFY(!FolderExists(root.filePath(QStringLiteral("plain"))));
    QVERIFY(root.rmdir(QStringLiteral("removed")));
    QVERIFY(!FolderExists(root.filePath(QStringLiteral("removed"))));
}

void FolderPickerTest::chooserSitsOverTheAskingWindow_data()
{
    QTest::addColumn<bool>("dialogOpen");
    // The first-use dialog asks while the main window is still hidden.
    QTest::newRow("dialog over the hidden main window") << true;
    QTest::newRow("main window") << false;
}

void FolderPickerTest::chooserSitsOverTheAskingWindow()
{
    QFETCH(bool, dialogOpen);

    QWidget mainWindow;
    mainWindow.setObjectName(QStringLiteral("MainForm"));
    QDialog dialog;
    QWidget* asking = &mainWindow;
    if (dialogOpen) {
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        asking = &dialog;
    } else {
        mainWindow.show();
    }
    asking->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(asking));

    // The real chooser, cancelled as soon as it shows.
    DirectoryChooser::setScript({});
    QPointer<QWidget> parent;
    bool shown = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser || !chooser->isVisible())
            return;
        poll.stop();
        shown = true;
        parent = chooser->parentWidget();
        chooser->reject();
    });
    poll.start();
    QString path;
    QVERIFY(!::ChooseFolder(QStringLiteral("Database Directory"), m_root.path(), path));
    QVERIFY(shown);
    QCOMPARE(parent.data(), asking);
}

QTEST_MAIN(FolderPickerTest)
#include "FolderPickerTest.moc"
