#pragma once

#include <QString>

class TMainForm;
class QWidget;

// The main window as the program creates it, signed in through the real
// login dialog against the Gatekeep.acl of the working directory (put the
// table there first, e.g. with TempWorkDir::copyFixture). Starts from the
// zero-filled table of program start and creates NewAccoForm as the
// program entry does. The window is not shown. A refused login is ended
// with the dialog's Quit, so the creation always returns; signedIn() tells.
class SignedInMainWindow
{
public:
    explicit SignedInMainWindow(const QString& loginName = QStringLiteral("admin"),
                                const QString& password = QStringLiteral("secret"));
    ~SignedInMainWindow();
    SignedInMainWindow(const SignedInMainWindow&) = delete;
    SignedInMainWindow& operator=(const SignedInMainWindow&) = delete;

    TMainForm* get() const { return m_form; }
    TMainForm* operator->() const { return m_form; }
    bool signedIn() const;

    // A control of the window by its objectName; fails the test when absent.
    template <class T> T* find(const char* name) const { return static_cast<T*>(child(name)); }

private:
    QWidget* child(const char* name) const;

    TMainForm* m_form = nullptr;
    bool m_ownsNewAccoForm = false;
};

// Types text as keystrokes, also characters beyond Latin-1.
void TypeText(QWidget* widget, const QString& text);
