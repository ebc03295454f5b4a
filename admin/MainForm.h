#pragma once

#include "store/UserRecord.h"

#include <QString>
#include <QWidget>

namespace Ui {
class TMainForm;
}

// The main window. Its methods live with their subsystems: the session in
// app/MainFormSession.cpp, the user pages in admin/MainForm.cpp, the Bank
// Account page in accounts/BankAccountPage.cpp.
class TMainForm : public QWidget
{
    Q_OBJECT

public:
    // Runs FormCreate, so the sign-in happens inside the constructor.
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    UserRecord CurrentUser{};
    QString WorkingDir;

    void SetCurrentUser(const AnsiString& loginName);
    void UpdateUserNameList();
    void RefreshAccoList();
    void UpdateButtons();
    void clearActionSheet();

    int editedSlot() const { return EditedSlot; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();

    // Session
    void FormCreate();
    void LoginUser();
    bool FormCloseQuery();
    void ExitButtonClick();
    void bindSession();

    // User pages
    void UserNamesClick();
    void ShowUserInfo(const UserRecord& record);
    void fillActionSheet(const UserRecord& record);
    void AddButtonClick();
    void DeleteButtonClick();
    void ModifyButtonClick();
    void SaveChangeButtonClick();
    void NameEditChange();
    void BrowseBtnClick();
    void bindUserPages();
    // Shared by Add and Save Changes: the "all sections filled" test (it
    // shows the message) and the plain record the editor describes.
    bool editorFilled();
    UserRecord recordFromEditor() const;

    // Bank Account page
    void AccoTypeListBoxClick();
    void NewAccoBtnClick();
    void ModifyAccoBtnClick();
    void DelAccoBtnClick();
    void bindAccountPage();
    // The slot of the user selected in UserNames; 0 when no line is selected
    // or its name is no longer in the table (the account list is then
    // rebuilt).
    int selectedUserSlot();

    Ui::TMainForm* ui;
    int EditedSlot = 0;
    // The login name Modify loaded, so Save Changes can find that user again
    // after the table has moved under it.
    AnsiString EditedName;
};

extern TMainForm* MainForm;
// True while UserTable holds an add or a deletion not yet in the file.
extern bool TableChanged;
// The one copy of the shown user's ten account entries, still scrambled.
extern AccountArea ShownAccounts;
