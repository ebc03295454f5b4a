#include "BankAccountPage.h"

#include "ui_BankAccountPage.h"

#include "NewAccoForm.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"
#include "ui/Widgets.h"

#include <QListWidget>
#include <QListWidgetItem>

#include <optional>

namespace {

const QString SelectAnAccount = QStringLiteral("Select an account to see the description.");

// A line names the accounts whose names equal it with a to z upper-cased;
// several may, in a table made elsewhere.
bool sameAccountName(const AccountData& account, const std::string& line)
{
    return accountNameKey(account.name) == accountNameKey(line);
}

// Each line carries the entry of its account: of two accounts of one name,
// the line picked is the one changed.
constexpr int EntryRole = Qt::UserRole;

// The selected line's text and entry; false when no line is selected.
bool selectedLine(const QListWidget* list, QString& text, int& entry)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return false;
    text = selected.first()->text();
    entry = selected.first()->data(EntryRole).toInt();
    return true;
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

} // namespace

TBankAccountPage::TBankAccountPage(Session& session, TNewAccoForm& accountDialog,
                                   std::function<std::optional<QString>()> selectedUser,
                                   QWidget* parent)
    : QWidget(parent), m_session(session), m_accountDialog(accountDialog),
      m_selectedUser(std::move(selectedUser)), m_ui(new Ui::TBankAccountPage)
{
    m_ui->setupUi(this);
    // A read-only memo that only shows text: no text cursor over it.
    m_ui->DescriptionLabel->viewport()->setCursor(Qt::ArrowCursor);

    connect(m_ui->AccoTypeListBox, &QListWidget::itemSelectionChanged, this,
            &TBankAccountPage::AccoTypeListBoxClick);
    connect(m_ui->NewAccoBtn, &QPushButton::clicked, this, &TBankAccountPage::NewAccoBtnClick);
    connect(m_ui->ModifyAccoBtn, &QPushButton::clicked, this,
            &TBankAccountPage::ModifyAccoBtnClick);
    connect(m_ui->DelAccoBtn, &QPushButton::clicked, this, &TBankAccountPage::DelAccoBtnClick);
}

TBankAccountPage::~TBankAccountPage()
{
    delete m_ui;
}

void TBankAccountPage::showAccountsOf(const QString& userName)
{
    ShownAccounts = m_session.Accounts(userName.toStdString());
    RefreshAccoList();
}

std::optional<std::string> TBankAccountPage::selectedUser()
{
    const std::optional<QString> line = m_selectedUser();
    if (!line)
        return std::nullopt;
    const std::optional<UserData> user = m_session.user(line->toStdString());
    if (!user) {
        RefreshAccoList();
        return std::nullopt;
    }
    return user->loginName;
}

std::optional<AccountData> TBankAccountPage::selectedAccount(const std::string& userName,
                                                             const QString& code)
{
    QString line;
    int entry = -1;
    if (!selectedLine(m_ui->AccoTypeListBox, line, entry))
        return std::nullopt;
    for (const AccountData& account : m_session.Accounts(userName)) {
        if (account.entry == entry && sameAccountName(account, line.toStdString()))
            return account;
    }
    showInternalError(code);
    return std::nullopt;
}

void TBankAccountPage::RefreshAccoList()
{
    m_ui->AccoTypeListBox->clear();
    for (const AccountData& account : ShownAccounts) {
        appendListLine(m_ui->AccoTypeListBox, QString::fromStdString(account.name));
        m_ui->AccoTypeListBox->item(m_ui->AccoTypeListBox->count() - 1)
            ->setData(EntryRole, account.entry);
    }
    m_ui->DescriptionLabel->setPlainText(SelectAnAccount);
    UpdateButtons();
}

void TBankAccountPage::AccoTypeListBoxClick()
{
    QString line;
    int entry = -1;
    if (selectedLine(m_ui->AccoTypeListBox, line, entry)) {
        for (const AccountData& account : ShownAccounts) {
            if (account.entry != entry)
                continue;
            m_ui->DescriptionLabel->setPlainText(QString::fromStdString(account.description));
            m_ui->DescriptionLabel->repaint();
        }
    } else {
        // A line given up (Ctrl with a click or the space bar) leaves none
        // picked: the description of the account left must not stay.
        m_ui->DescriptionLabel->setPlainText(SelectAnAccount);
    }
    UpdateButtons();
}

void TBankAccountPage::UpdateButtons()
{
    const bool picked = !m_ui->AccoTypeListBox->selectedItems().isEmpty();
    m_ui->ModifyAccoBtn->setEnabled(picked);
    m_ui->DelAccoBtn->setEnabled(picked);
}

void TBankAccountPage::finishChange(const std::string& userName, const QString& noEntryCode,
                                    const std::function<ChangeResult()>& change)
{
    const ChangeResult result = change();
    // Every change reads the signed-in user's rights from the file anew:
    // the window follows them, whatever came of the change.
    emit rightsMayHaveChanged();
    if (result.refreshed || result.outcome == ChangeResult::Outcome::Reloaded)
        emit tableReloaded(); // the user list, and this page with it
    if (result.outcome == ChangeResult::Outcome::Refused) {
        switch (result.reason) {
        case ChangeResult::Reason::NoSuchUser:
            RefreshAccoList();
            return;
        // The page and the record disagree: only the table changing under
        // the page can cause that.
        case ChangeResult::Reason::AccountsFull:
            showInternalError(QStringLiteral("_ALB:0001"));
            return;
        case ChangeResult::Reason::NoSuchAccount:
            showInternalError(noEntryCode);
            return;
        default:
            break;
        }
    }
    // A sign-out the main window tells, once, and leaves nothing but Exit.
    if (showFailure(result) || result.outcome == ChangeResult::Outcome::Cancelled)
        return;
    showAccountsOf(QString::fromStdString(userName));
    showWarning(result);
}

void TBankAccountPage::NewAccoBtnClick()
{
    RefreshAccoList();
    const ChangeResult room = Session::mayAddAccount(ShownAccounts);
    if (!room.done()) {
        MessageBox::show(MessageBox::Kind::Information, QString::fromStdString(room.message));
        return;
    }

    execModal(m_accountDialog);
    if (!m_accountDialog.Saved()) {
        RefreshAccoList();
        return;
    }

    const AccountData typed = m_accountDialog.AccoRec();
    const ChangeResult named = Session::checkAccountName(typed.name, ShownAccounts);
    if (!named.done()) {
        MessageBox::show(MessageBox::Kind::Error, QString::fromStdString(named.message));
        return;
    }

    const std::optional<std::string> selected = selectedUser();
    if (!selected)
        return;
    const std::string& userName = *selected;
    finishChange(userName, QStringLiteral("_ALB:0001"),
                 [&] { return m_session.addAccount(userName, typed); });
}

void TBankAccountPage::ModifyAccoBtnClick()
{
    const std::optional<std::string> selected = selectedUser();
    if (!selected)
        return;
    const std::string& userName = *selected;
    const std::optional<AccountData> shown = selectedAccount(userName, QStringLiteral("_ALB:0003"));
    if (!shown)
        return;
    const int entry = shown->entry;

    m_accountDialog.setEntry(*shown);
    execModal(m_accountDialog);
    if (!m_accountDialog.Saved())
        return;

    AccountData typed = m_accountDialog.AccoRec();
    typed.entry = entry;
    finishChange(userName, QStringLiteral("_ALB:0003"),
                 [&] { return m_session.modifyAccount(userName, typed); });
}

void TBankAccountPage::DelAccoBtnClick()
{
    const std::optional<std::string> selected = selectedUser();
    if (!selected)
        return;
    const std::string& userName = *selected;
    const std::optional<AccountData> shown = selectedAccount(userName, QStringLiteral("_ALB:0002"));
    if (!shown)
        return;
    const int entry = shown->entry;
    const QString account = QString::fromStdString(shown->name);

    // Only an explicit Yes deletes: a box closed without an answer keeps the
    // account.
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Are you sure you want to delete your \n") +
                             QString::fromStdString(accountNameKey(account.toStdString())) +
                             QStringLiteral(" account ?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;

    finishChange(userName, QStringLiteral("_ALB:0002"),
                 [&] { return m_session.deleteAccount(userName, entry); });
}
