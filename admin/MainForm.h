#pragma once

#include "session/UserValues.h"

#include <QString>
#include <QWidget>

#include <optional>

class Session;
class TableWatcher;
struct ChangeResult;

namespace Ui {
class TMainForm;
}

// The main window: the user list and buttons, the "User Details" and "User
// Editor" sheets, and the frame that holds the "Bank Account" sheet, whose
// content its owner hands in. Every change goes through the session, which
// checks the signed-in user's rights.
class TMainForm : public QWidget
{
    Q_OBJECT

public:
    explicit TMainForm(Session& session, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The content of the "Bank Account" sheet.
    void setBankAccountPage(QWidget* page);

    // The signed-in user's name in the caption, and only the buttons, sheets
    // and rights boxes their rights allow. A sheet they may not use leaves
    // the window altogether, so nothing can bring it to the front.
    void applyRights();
    void UpdateUserNameList();
    // The table was brought up to date with the file: the list is built
    // anew, and the user picked before, when still there, stays picked.
    void showTableAgain();
    // Shows others' saves as they land: on the watcher's word the session
    // takes the file's table, and the window follows as after a change of
    // its own that brought the table up to date. The watcher stays its
    // owner's.
    void followTable(TableWatcher& watcher);
    void showFileAsItIs();
    void clearActionSheet();
    void disableSaveChangeButton();
    // The text of the user list's selected line; nothing when none is.
    std::optional<QString> selectedUserName() const;

    // The user Modify loaded into the editor; empty when nobody is.
    const LoadedUser& editedUser() const { return m_editedUser; }

    // The close question: true when the window may close.
    bool FormCloseQuery();

signals:
    // A person picked the user of that name in the user list.
    void userPicked(const QString& userName);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ExitButtonClick();

    void UserNamesClick();
    void ShowUserInfo(const UserData& user);
    void fillActionSheet(const UserData& user);
    void AddButtonClick();
    void DeleteButtonClick();
    void ModifyButtonClick();
    void SaveChangeButtonClick();
    // The signed-in user's own password, open to every user.
    void passwordButtonClick();
    void NameEditChange();
    void BrowseBtnClick();
    // Shared by Add and Save Changes: the user the editor describes; a box
    // left empty is for the session to refuse.
    UserData userFromEditor() const;
    // Shows why the session refused a change or why it failed; false when
    // it did neither.
    bool reportFailure(const ChangeResult& result);
    // Takes a sheet out of the window (it stays alive, parentless and
    // hidden, for the code that fills it).
    void withdrawSheet(QWidget* sheet);
    // Puts a sheet in its designed place among the tabs, or takes it out.
    void placeSheet(QWidget* sheet, bool wanted);

    Session& m_session;
    Ui::TMainForm* m_ui;
    // The user Modify loaded, so Save Changes can find that user again after
    // the table has moved under it; empty when nothing is loaded.
    LoadedUser m_editedUser;
    QList<QWidget*> m_withdrawn;
    // The sheets in their designed order, with their tab titles.
    QList<QPair<QWidget*, QString>> m_sheets;
    // Whether the user list's selection has changed since the mouse button
    // last went down on it: a click that changed nothing picks again.
    bool m_pickedSincePress = false;
    // Whether the person has been told they are signed out.
    bool m_toldSignedOut = false;
};
