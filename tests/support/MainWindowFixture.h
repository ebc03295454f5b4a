#pragma once

#include "ScriptedUi.h"
#include "SignedInMainForm.h"
#include "TempWorkDir.h"
#include "WindowText.h"

#include "TableFile.h"

#include "admin/MainForm.h"
#include "app/SecurityManager.h"
#include "session/Session.h"
#include "store/UserTable.h"

#include <QByteArray>
#include <QListWidget>
#include <QTest>

#include <memory>

// What a test of the signed-in main window works with: scripted message
// boxes, a working directory holding three-users.acl (its bytes kept in
// `fixture`), and the window. A test class derives from it beside QObject
// and calls setUp() from init() and tearDown() from cleanup().
class MainWindowFixture
{
protected:
    std::unique_ptr<ScriptedUi> scripted;
    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<SignedInMainWindow> window;
    QByteArray fixture;

    template <class T> T* find(const char* name) const { return window->find<T>(name); }
    QListWidget* users() const { return find<QListWidget>("UserNames"); }
    QStringList boxes() const { return Rendered(scripted->shown); }
    Session& session() const { return window->manager().session(); }
    bool tableChanged() const { return session().TableChanged(); }
    // The table in memory, one line a slot as DecodeTable gives it.
    QStringList memoryTable() const
    {
        return DecodeTable(QByteArray::fromStdString(session().Table().Bytes()));
    }

    // A new window in place of the old one, signed in and shown.
    void signIn(const QString& name = QStringLiteral("admin"),
                const QString& password = QStringLiteral("secret"))
    {
        window.reset();
        window = std::make_unique<SignedInMainWindow>(name, password);
        QVERIFY(window->signedIn());
        window->get()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window->get()));
    }

    void setUp()
    {
        scripted = std::make_unique<ScriptedUi>();
        dir = std::make_unique<TempWorkDir>();
        dir->copyFixture(QStringLiteral("three-users.acl"));
        fixture = dir->read();
    }

    void tearDown()
    {
        window.reset();
        dir.reset();
        QCOMPARE(scripted->problems(), QString());
        scripted.reset();
    }
};
