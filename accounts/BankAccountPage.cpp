#include "BankAccountPage.h"

#include "ui_BankAccountPage.h"

#include "NewAccoForm.h"
#include "store/Scramble.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"
#include "ui/Widgets.h"

#include <QListWidget>
#include <QListWidgetItem>

namespace {

const QString SelectAnAccount = QStringLiteral("Select an account to see the description.");

// An account entry matches a line when both are equal with the letters a to
// z upper-cased; the first matching entry in entry order, or -1.
int matchingEntry(const AccountArea& accounts, const QString& line)
{
    const AnsiString key = UpperAscii(ToAnsi(line));
    for (int i = 0; i < AccountCount; ++i) {
        if (UpperAscii(Decoded(accounts[static_cast<std::size_t>(i)].AccountName)) == key)
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

AccountEntry plainEntry(const AccountEntry& stored)
{
    AccountEntry plain{};
    plain.AccountName.assign(Decoded(stored.AccountName));
    plain.AccountDescription.assign(Decoded(stored.AccountDescription));
    return plain;
}

} // namespace

TBankAccountPage::TBankAccountPage(Session& session, TNewAccoForm& accountDialog,
                                   std::function<bool(QString&)> selectedUser, QWidget* parent)
    : QWidget(parent), m_session(session), m_accountDialog(accountDialog),
      m_selectedUser(std::move(selectedUser)), ui(new Ui::TBankAccountPage)
{
    ui->setupUi(this);
    // A read-only memo that only shows text: no text cursor over it.
    ui->DescriptionLabel->viewport()->setCursor(Qt::ArrowCursor);

    connect(ui->AccoTypeListBox, &QListWidget::itemSelectionChanged, this,
            &TBankAccountPage::AccoTypeListBoxClick);
    connect(ui->NewAccoBtn, &QPushButton::clicked, this, &TBankAccountPage::NewAccoBtnClick);
    connect(ui->ModifyAccoBtn, &QPushButton::clicked, this, &TBankAccountPage::ModifyAccoBtnClick);
    connect(ui->DelAccoBtn, &QPushButton::clicked, this, &TBankAccountPage::DelAccoBtnClick);
}

TBankAccountPage::~TBankAccountPage()
{
    delete ui;
}

void TBankAccountPage::ShowAccountsOf(int slot)
{
    ShownAccounts = m_session.Table().Slot(slot).Accounts;
    RefreshAccoList();
}

int TBankAccountPage::selectedUserSlot()
{
    QString userName;
    if (!m_selectedUser(userName))
        return 0;
    const int slot = m_session.Table().FindUser(ToAnsi(userName));
    if (slot == 0)
        RefreshAccoList();
    return slot;
}

void TBankAccountPage::RefreshAccoList()
{
    ui->AccoTypeListBox->clear();
    for (const AccountEntry& entry : ShownAccounts) {
        if (entry.AccountName.empty())
            continue;
        AppendListLine(ui->AccoTypeListBox, FromAnsi(Decoded(entry.AccountName)));
    }
    ui->DescriptionLabel->setPlainText(SelectAnAccount);
    UpdateButtons();
}

void TBankAccountPage::AccoTypeListBoxClick()
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
    } else {
        // A line given up (Ctrl with a click or the space bar) leaves none
        // picked: the description of the account left must not stay.
        ui->DescriptionLabel->setPlainText(SelectAnAccount);
    }
    UpdateButtons();
}

void TBankAccountPage::UpdateButtons()
{
    const bool picked = !ui->AccoTypeListBox->selectedItems().isEmpty();
    ui->ModifyAccoBtn->setEnabled(picked);
    ui->DelAccoBtn->setEnabled(picked);
}

void TBankAccountPage::finishChange(int slot, const QString& noEntryCode,
                                    const std::function<ChangeResult()>& change)
{
    const AnsiString userName = Decoded(m_session.Table().Slot(slot).LoginName);
    ChangeResult result;
    if (!ReportingIoErrors([&] { result = change(); }))
        return;

    switch (result.outcome) {
    case ChangeResult::Outcome::Done:
        ShowAccountsOf(slot);
        if (!result.message.empty())
            MessageBox::show(MessageBox::Kind::Warning, FromAnsi(result.message));
        return;
    case ChangeResult::Outcome::Reloaded:
        if (const int again = m_session.Table().FindUser(userName))
            ShowAccountsOf(again);
        emit tableReloaded();
        return;
    case ChangeResult::Outcome::Cancelled:
        return;
    case ChangeResult::Outcome::Refused:
        break;
    }
    switch (result.reason) {
    case ChangeResult::Reason::NoSuchUser:
        RefreshAccoList();
        return;
    // The page and the record disagree: only the table changing under the
    // page can cause that.
    case ChangeResult::Reason::AccountsFull:
        showInternalError(QStringLiteral("_ALB:0001"));
        return;
    case ChangeResult::Reason::NoSuchAccount:
        showInternalError(noEntryCode);
        return;
    default:
        MessageBox::show(MessageBox::Kind::Error, FromAnsi(result.message));
        return;
    }
}

void TBankAccountPage::NewAccoBtnClick()
{
    RefreshAccoList();
    if (ui->AccoTypeListBox->count() >= AccountCount) {
        MessageBox::show(MessageBox::Kind::Information,
                         QStringLiteral("This user already has ten bank accounts."));
        return;
    }

    ExecModal(m_accountDialog);
    if (!m_accountDialog.Saved) {
        RefreshAccoList();
        return;
    }

    const AccountEntry typed = m_accountDialog.AccoRec;
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
    const AnsiString userName = Decoded(m_session.Table().Slot(slot).LoginName);
    finishChange(slot, QStringLiteral("_ALB:0001"),
                 [&] { return m_session.AddAccount(userName, typed); });
}

void TBankAccountPage::ModifyAccoBtnClick()
{
    const int slot = selectedUserSlot();
    if (slot == 0)
        return;
    const UserRecord& user = m_session.Table().Slot(slot);
    QString account;
    const int entry =
        selectedEntry(ui->AccoTypeListBox, user.Accounts, QStringLiteral("_ALB:0003"), account);
    if (entry < 0)
        return;

    m_accountDialog.setEntry(plainEntry(user.Accounts[static_cast<std::size_t>(entry)]));
    ExecModal(m_accountDialog);
    if (!m_accountDialog.Saved)
        return;

    const AnsiString userName = Decoded(m_session.Table().Slot(slot).LoginName);
    const AccountEntry typed = m_accountDialog.AccoRec;
    finishChange(slot, QStringLiteral("_ALB:0003"),
                 [&] { return m_session.ModifyAccount(userName, entry, typed); });
}

void TBankAccountPage::DelAccoBtnClick()
{
    const int slot = selectedUserSlot();
    if (slot == 0)
        return;
    const UserRecord& user = m_session.Table().Slot(slot);
    QString account;
    const int entry =
        selectedEntry(ui->AccoTypeListBox, user.Accounts, QStringLiteral("_ALB:0002"), account);
    if (entry < 0)
        return;

    // Only an explicit Yes deletes: a box closed without an answer keeps the
    // account.
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Are you sure you want to delete your \n") +
                             FromAnsi(UpperAscii(ToAnsi(account))) + QStringLiteral(" account ?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;

    const AnsiString userName = Decoded(user.LoginName);
    finishChange(slot, QStringLiteral("_ALB:0002"),
                 [&] { return m_session.DeleteAccount(userName, entry); });
}
