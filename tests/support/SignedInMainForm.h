#pragma once

#include <QString>

#include <memory>

class SecurityManager;
class TMainForm;
class TempWorkDir;
class QWidget;

// Drivers of the dialog that the main window's creation runs at start-up
// (the login dialog, or the first-use dialog on a first start), and the main
// window signed in through the real login dialog. Set a driver up before
// creating the window.

// Drives the next login dialog: types the login name and password and
// presses OK. A refused login would leave the dialog waiting: it is then
// ended with Quit. `seen` receives the objectName of the dialog that came
// ("PassWords" or "NewID_Form"); any other than the login dialog fails the
// test.
void signInWith(const QString& name, const QString& password, QString* seen = nullptr);

// Ends the start-up dialog the way its user would give up: Quit on the login
// dialog, Terminate on the first-use dialog (its question must be answered
// Yes by the test).
void giveUpStartupDialog(QString* seen = nullptr);

// The program's start-up as main() runs it, signed in through the real
// login dialog against the Gatekeep.acl of the working directory (put the
// table there first, e.g. with TempWorkDir::copyFixture). The main window
// is not shown. A refused login is ended with the dialog's Quit, so the
// creation always returns; signedIn() tells.
class SignedInMainWindow
{
public:
    explicit SignedInMainWindow(const QString& loginName = QStringLiteral("admin"),
                                const QString& password = QStringLiteral("secret"));
    ~SignedInMainWindow();
    SignedInMainWindow(const SignedInMainWindow&) = delete;
    SignedInMainWindow& operator=(const SignedInMainWindow&) = delete;

    TMainForm* get() const;
    TMainForm* operator->() const { return get(); }
    SecurityManager& manager() const { return *m_manager; }
    bool signedIn() const;

    // A control of the window by its objectName; fails the test when absent.
    template <class T> T* find(const char* name) const { return static_cast<T*>(child(name)); }

private:
    QWidget* child(const char* name) const;

    std::unique_ptr<SecurityManager> m_manager;
};

// For tests of the dialogs that report to the main window: the window
// signed in as the fixture's admin, with three-users.acl put into `dir`. A
// message box during the sign-in fails the test.
std::unique_ptr<SignedInMainWindow> adminMainWindowIn(TempWorkDir& dir);
