#pragma once

#include "session/Session.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class TNewAccoForm;

namespace Ui {
class TBankAccountPage;
}

// The "Bank Account" sheet: the account list of the user last picked in
// the user list, and the account changes made through the new-account
// dialog.
class TBankAccountPage : public QWidget
{
    Q_OBJECT

public:
    // `selectedUser` gives the text of the user list's selected line, or
    // nothing when no line is selected.
    TBankAccountPage(Session& session, TNewAccoForm& accountDialog,
                     std::function<std::optional<QString>()> selectedUser,
                     QWidget* parent = nullptr);
    ~TBankAccountPage() override;

    // Shows the accounts of the user of that name (a pick in the user list).
    void showAccountsOf(const QString& userName);
    void RefreshAccoList();
    void UpdateButtons();

signals:
    // The table was replaced by the file's version (a change on disk): the
    // user list must follow.
    void tableReloaded();
    // A change read the signed-in user's rights from the file anew.
    void rightsMayHaveChanged();

private:
    void AccoTypeListBoxClick();
    void NewAccoBtnClick();
    void ModifyAccoBtnClick();
    void DelAccoBtnClick();
    // The stored name of the user selected in the user list; nothing when
    // no line is selected or its name is no longer in the table (the list
    // is then rebuilt).
    std::optional<std::string> selectedUser();
    // The account of `userName` the account list's selected line names;
    // none when no line is selected, or after the internal error `code`
    // when no account matches.
    std::optional<AccountData> selectedAccount(const std::string& userName, const QString& code);
    // Shows what the session made of an account change of the user
    // `userName`; a change that reached the file reloads the page from it.
    // `noEntryCode` is the internal error for an entry the record lacks.
    void finishChange(const std::string& userName, const QString& noEntryCode,
                      const std::function<ChangeResult()>& change);

    Session& m_session;
    TNewAccoForm& m_accountDialog;
    std::function<std::optional<QString>()> m_selectedUser;
    Ui::TBankAccountPage* m_ui;
    // The one copy of the shown user's accounts.
    std::vector<AccountData> ShownAccounts;
};
