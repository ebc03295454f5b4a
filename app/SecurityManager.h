#pragma once

#include "session/Session.h"

#include <QString>

#include <memory>

class AuditSink;
class TBankAccountPage;
class TMainForm;
class TNewAccoForm;
class TNewID_Form;
class TPassWords;
class TableWatcher;

// The program's start-up and its windows: the one session on the working
// directory's table, the sign-in (or, on a first start, the first-use
// dialog), and the main window with its sheets once someone has signed in.
class SecurityManager
{
public:
    // `audit` may be null.
    explicit SecurityManager(const QString& workingDir, AuditSink* audit = nullptr);
    // The whole start-up, dialogs included.
    void start();
    ~SecurityManager();
    SecurityManager(const SecurityManager&) = delete;
    SecurityManager& operator=(const SecurityManager&) = delete;

    Session& session() { return m_session; }
    const QString& WorkingDir() const { return m_workingDir; }
    TMainForm* mainForm() const { return m_mainForm.get(); }
    TPassWords* loginDialog() const { return m_passWords.get(); }
    // Made only on a first start.
    TNewID_Form* firstUseDialog() const { return m_newID.get(); }
    TNewAccoForm* accountDialog() const { return m_newAcco.get(); }
    // What tells the main window of others' saves; made with it.
    TableWatcher* tableWatcher() const { return m_watcher.get(); }

    // The desktop session is ending: where the session manager lets us ask
    // (`mayAsk`), the close question comes as on Exit; where it does not,
    // the waiting changes are saved without a word, nothing written over
    // someone else's change. False when the person cancels the question or
    // the unasked save wrote nothing, which asks the session manager to stop
    // the logout.
    bool logoutQuery(bool mayAsk);

private:
    void FormCreate();
    void LoginUser();
    void createMainForm();
    void watchLogout();
    // Says so when another running copy has the same table open.
    void lockTable();

    QString m_workingDir;
    Session m_session;
    std::unique_ptr<TNewID_Form> m_newID;
    std::unique_ptr<TPassWords> m_passWords;
    std::unique_ptr<TNewAccoForm> m_newAcco;
    std::unique_ptr<TMainForm> m_mainForm;
    TBankAccountPage* m_bankPage = nullptr; // owned by the main window
    // A save runs that nobody may be asked about (a logout that allows no
    // questions).
    bool m_unattended = false;
    std::unique_ptr<TableWatcher> m_watcher;
};
