// The generated code names a parameter after the window; it comes before
// the global of that name so the two do not shadow each other.
#include "ui_MainForm.h"

#include "admin/MainForm.h"

#include "signin/NewID_Form.h"
#include "signin/PassWords.h"
#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QToolTip>

namespace {

const QString FirstUseMarker = QStringLiteral("~first.log");

// A file of that name, not a directory.
bool FileExists(const QString& dir, const QString& name)
{
    return QFileInfo(QDir(dir).filePath(name)).isFile();
}

bool Granted(const ShortString<1>& right)
{
    return Decoded(right) == "0";
}

} // namespace

void TMainForm::bindSession()
{
    connect(ui->ExitButton, &QPushButton::clicked, this, [this] { ExitButtonClick(); });
    connect(ui->ExitButton2, &QPushButton::clicked, this, [this] { ExitButtonClick(); });
}

void TMainForm::FormCreate()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::All, QPalette::ToolTipBase, QColor(0, 255, 255));
    QApplication::setPalette(palette);
    // Tool tips keep a palette of their own.
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::All, QPalette::ToolTipBase, QColor(0, 255, 255));
    QToolTip::setPalette(tips);

    WorkingDir = QDir::currentPath();
    TableChanged = false;

    PassWords = new TPassWords();

    const QString tableName = QString::fromLatin1(UserTableFileName);
    if (FileExists(WorkingDir, FirstUseMarker) && !FileExists(WorkingDir, tableName)) {
        // The dialog stores, saves and reloads the table and signs its user
        // in; the window keeps its designed caption and states. Created
        // only here: its memo's text layout and bold face would cost every
        // start with a table 4 million instructions and 1.5 MB of memory
        // before the login dialog appears.
        NewID_Form = new TNewID_Form();
        ExecModal(*NewID_Form);
        buildControls();
        PassWords->LoginState = 1;
    } else {
        const bool ready = ReportingIoErrors([&] {
            if (FileExists(WorkingDir, tableName))
                LoadUserTable();
            else
                CreateUserTableFile();
        });
        if (!ready) {
            // Nobody can sign in against a table that cannot be read, and
            // the window must not open without a signed-in user.
            buildControls();
            RequestTerminate();
            return;
        }
        LoginUser();
    }

    UpdateUserNameList();
    ui->SaveChangeButton->setEnabled(false);
}

void TMainForm::LoginUser()
{
    ExecModal(*PassWords);
    buildControls();
    if (PassWords->LoginState != 1) {
        MessageBox::show(MessageBox::Kind::Error,
                         QStringLiteral("KVS Internal error PPP[0000:0001]"),
                         MessageBox::Buttons::Ok);
        RequestTerminate();
        return;
    }

    setWindowTitle(QStringLiteral("KVS - ") + FromAnsi(Decoded(CurrentUser.LoginName)));

    const bool addUsers = Granted(CurrentUser.AddUsers);
    const bool deleteUsers = Granted(CurrentUser.DeleteUsers);
    const bool modifyUsers = Granted(CurrentUser.ModifyUsers);

    ui->AddButton->setEnabled(addUsers);
    ui->DeleteButton->setEnabled(deleteUsers);
    ui->ModifyButton->setEnabled(modifyUsers);

    const bool canAdd = ui->AddButton->isEnabled();
    const bool canDelete = ui->DeleteButton->isEnabled();
    const bool canModify = ui->ModifyButton->isEnabled();
    QTabWidget* pages = ui->UserPages;
    pages->setTabVisible(pages->indexOf(ui->ActionSheet), canAdd || canModify);
    pages->setTabVisible(pages->indexOf(ui->UserInfoSheet), canModify || canDelete);
    pages->setTabVisible(pages->indexOf(ui->UserBankAccountInfoSheet), canModify && canDelete);

    const bool editRights = modifyUsers && addUsers;
    for (QComboBox* combo :
         {ui->ARCombo, ui->DRCombo, ui->MRCombo, ui->AUCombo, ui->DUCombo, ui->MUCombo})
        combo->setEnabled(editRights);
}

void TMainForm::SetCurrentUser(const AnsiString& loginName)
{
    const int slot = FindUser(loginName);
    if (slot > 0) {
        CurrentUser = Slot(slot);
        return;
    }
    // An empty login name tells the login dialog that no such user exists.
    CurrentUser.LoginName.Length = 0;
    CurrentUser.Password.Length = 0;
}

bool TMainForm::FormCloseQuery()
{
    if (!TableChanged)
        return true;
    switch (MessageBox::show(MessageBox::Kind::Confirmation,
                             QStringLiteral("Do you want to save the changes?"),
                             MessageBox::Buttons::YesNoCancel)) {
    case MessageBox::Button::Yes:
        // A failed save keeps the window open with its changes.
        return ReportingIoErrors([] { SaveUserTable(); });
    case MessageBox::Button::No:
        return true;
    default:
        return false;
    }
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // A terminate request ends the program without asking or saving.
    if (TerminateRequested() || FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TMainForm::ExitButtonClick()
{
    close();
}
