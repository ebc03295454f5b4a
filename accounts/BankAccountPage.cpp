// The "Bank Account" page of the main window: the shown user's account list
// and the account changes made through the new-account dialog.

// First: its form parameter has the name of the global instance.
#include "ui_MainForm.h"

#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"
#include "ui/Widgets.h"

#include <QListWidget>
#include <QListWidgetItem>

namespace {

// An account entry matches a line when both are equal with the letters a to
// z upper-cased; the first matching entry in entry order, or -1.
int matchingEntry(const AccountArea& accounts, const QString& line)
{
    const AnsiString key = UpperAscii(ToAnsi(line));
    for (int i = 0; i < AccountCount; ++i) {
        if (UpperAscii(Decoded(accounts[i].AccountName)) == key)
            return i;
    }
    return -1;
}

void showInternalError(const QString& code)
{
    MessageBox::show(MessageBox::Kind::Error,
                     QStringLiteral("Security Manager Internal Error:\n"
                                    "Error Code: %1\n"
                                    "Please send this error message to "
                                    "support@larkledger.example\n"
                                    "with the error code and a short description of your \n"
                                    "OS information. Thank you.")
                         .arg(code));
}

// The entry that the selected line of the account list names, or -1: with no
// line selected, or after the internal error `code` when no entry matches.
int selectedEntry(const QListWidget* list, const AccountArea& accounts, const QString& code,
                  QString& line)
{
    if (!SelectedLineText(list, line))
        return -1;
    const int entry = matchingEntry(accounts, line);
    if (entry < 0)
        showInternalError(code);
    return entry;
}

// Scrambles the dialog's plain entry into a stored entry. Bytes beyond the
// new lengths keep what they held.
void storeEntry(AccountEntry& stored, const AccountEntry& plain)
{
    StoreEncoded(stored.AccountName, plain.AccountName.value());
    StoreEncoded(stored.AccountDescription, plain.AccountDescription.value());
}

// The last steps of every account change: the whole table goes to the file
// at once (pending user adds and deletions with it) and is read back, and
// the page is rebuilt from what the file now holds.
void finishAccountChange(TMainForm& form, int slot, const UserRecord& working)
{
    bool saved = false;
    ReportingIoErrors([&] {
        Slot(slot) = working;
        SaveUserTable();
        saved = true;
        LoadUserTable();
        ShownAccounts = Slot(slot).Accounts;
        form.RefreshAccoList();
    });
    // The table in memory holds a change the file does not: the close must
    // still offer to save it.
    if (!saved)
        TableChanged = true;
}

} // namespace

void TMainForm::bindAccountPage()
{
    connect(ui->AccoTypeListBox, &QListWidget::itemSelectionChanged, this,
            &TMainForm::AccoTypeListBoxClick);
    connect(ui->NewAccoBtn, &QPushButton::clicked, this, &TMainForm::NewAccoBtnClick);
    connect(ui->ModifyAccoBtn, &QPushButton::clicked, this, &TMainForm::ModifyAccoBtnClick);
    connect(ui->DelAccoBtn, &QPushButton::clicked, this, &TMainForm::DelAccoBtnClick);
}

int TMainForm::selectedUserSlot()
{
    QString userName;
    if (!SelectedLineText(ui->UserNames, userName))
        return 0;
    const int slot = FindUser(ToAnsi(userName));
    if (slot == 0)
        RefreshAccoList();
    return slot;
}

void TMainForm::RefreshAccoList()
{
    ui->AccoTypeListBox->clear();
    for (const AccountEntry& entry : ShownAccounts) {
        if (entry.AccountName.empty())
            continue;
        AppendListLine(ui->AccoTypeListBox, FromAnsi(Decoded(entry.AccountName)));
    }
    ui->DescriptionLabel->setPlainText(QStringLiteral("Select an account to see the description."));
    UpdateButtons();
}

void TMainForm::AccoTypeListBoxClick()
{
    QString line;
    if (SelectedLineText(ui->AccoTypeListBox, line)) {
        const AnsiString key = UpperAscii(ToAnsi(line));
        // Every entry is looked at: of several matching names the last one's
        // description is the one left showing.
        for (const AccountEntry& entry : ShownAccounts) {
            if (UpperAscii(Decoded(entry.AccountName)) != key)
                continue;
            ui->DescriptionLabel->setPlainText(FromAnsi(Decoded(entry.AccountDescription)));
            ui->DescriptionLabel->repaint();
        }
    }
    UpdateButtons();
}

void TMainForm::UpdateButtons()
{
    const bool picked = !ui->AccoTypeListBox->selectedItems().isEmpty();
    ui->ModifyAccoBtn->setEnabled(picked);
    ui->DelAccoBtn->setEnabled(picked);
}

void TMainForm::NewAccoBtnClick()
{
    RefreshAccoList();
    if (ui->AccoTypeListBox->count() >= AccountCount) {
        MessageBox::show(MessageBox::Kind::Information,
                         QStringLiteral("This user already has ten bank accounts."));
        return;
    }

    ExecModal(*NewAccoForm);
    if (!NewAccoForm->Saved) {
        RefreshAccoList();
        return;
    }

    const AccountEntry typed = NewAccoForm->AccoRec;
    const AnsiString typedKey = UpperAscii(typed.AccountName.value());
    for (int i = 0; i < ui->AccoTypeListBox->count(); ++i) {
        if (UpperAscii(ToAnsi(ui->AccoTypeListBox->item(i)->text())) == typedKey) {
            MessageBox::show(MessageBox::Kind::Error,
                             QStringLiteral("The ") + FromAnsi(typed.AccountName.value()) +
                                 QStringLiteral(" is assigned, please Create another one."));
            return;
        }
    }

    const int slot = selectedUserSlot();
    if (slot == 0)
        return;
    UserRecord working = Slot(slot);

    int entry = -1;
    for (int i = 0; i < AccountCount && entry < 0; ++i) {
        if (working.Accounts[i].AccountName.empty())
            entry = i;
    }
    if (entry < 0) {
        showInternalError(QStringLiteral("_ALB:0001"));
        return;
    }

    storeEntry(working.Accounts[entry], typed);
    finishAccountChange(*this, slot, working);
}

void TMainForm::ModifyAccoBtnClick()
{
    const int slot = selectedUserSlot();
    if (slot == 0)
        return;
    UserRecord working = Slot(slot);
    QString account;
    const int entry =
        selectedEntry(ui->AccoTypeListBox, working.Accounts, QStringLiteral("_ALB:0003"), account);
    if (entry < 0)
        return;

    NewAccoForm->setEntryTexts(FromAnsi(Decoded(working.Accounts[entry].AccountName)),
                               FromAnsi(Decoded(working.Accounts[entry].AccountDescription)));
    ExecModal(*NewAccoForm);
    if (!NewAccoForm->Saved)
        return;

    storeEntry(working.Accounts[entry], NewAccoForm->AccoRec);
    finishAccountChange(*this, slot, working);
}

void TMainForm::DelAccoBtnClick()
{
    const int slot = selectedUserSlot();
    if (slot == 0)
        return;
    UserRecord working = Slot(slot);
    QString account;
    const int entry =
        selectedEntry(ui->AccoTypeListBox, working.Accounts, QStringLiteral("_ALB:0002"), account);
    if (entry < 0)
        return;

    // Only an explicit Yes deletes: a box closed without an answer keeps the
    // account.
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Are you sure you want to delete your \n") +
                             FromAnsi(UpperAscii(ToAnsi(account))) + QStringLiteral(" account ?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;

    // The entry becomes a gap that the next New fills first; its other bytes
    // stay as they were.
    working.Accounts[entry].AccountName.Length = 0;
    working.Accounts[entry].AccountDescription.Length = 0;
    finishAccountChange(*this, slot, working);
}
