#pragma once

#include "ScriptedUi.h"
#include "SignedInMainForm.h"
#include "TempWorkDir.h"
#include "WindowText.h"

#include "TableFile.h"

#include "admin/MainForm.h"
#include "app/SecurityManager.h"
#include "session/Session.h"

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
    std::unique_ptr<ScriptedUi> m_scripted;
    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<SignedInMainWindow> m_window;
    QByteArray m_fixture;

    template <class T> T* find(const char* name) const { return m_window->find<T>(name); }
    QListWidget* users() const { return find<QListWidget>("UserNames"); }
    QStringList boxes() const { return rendered(m_scripted->shown); }
    Session& session() const { return m_window->manager().session(); }
    bool tableChanged() const { return session().TableChanged(); }
    // The table in memory, one line a slot as decodeTable gives it.
    QStringList memoryTable() const { return decodeTable(session()); }

    // A new window in place of the old one, signed in and shown.
    void signIn(const QString& name = QStringLiteral("admin"),
                const QString& password = QStringLiteral("secret"))
    {
        m_window.reset();
        m_window = std::make_unique<SignedInMainWindow>(name, password);
        QVERIFY(m_window->signedIn());
        m_window->get()->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window->get()));
    }

    void setUp()
    {
        m_scripted = std::make_unique<ScriptedUi>();
        m_dir = std::make_unique<TempWorkDir>();
        m_dir->copyFixture(QStringLiteral("three-users.acl"));
        m_fixture = m_dir->read();
    }

    void tearDown()
    {
        m_window.reset();
        m_dir.reset();
        QCOMPARE(m_scripted->problems(), QString());
        m_scripted.reset();
    }
};
