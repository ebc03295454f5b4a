// The generated code names a parameter after the window; it comes before
// the global of that name so the two do not shadow each other.
#include "ui_MainForm.h"

#include "MainForm.h"

#include "signin/NewID_Form.h"
#include "signin/PassWords.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "ui/CodePage.h"
#include "ui/Widgets.h"

#include <QIcon>
#include <QListWidgetItem>

TMainForm* MainForm = nullptr;
bool TableChanged = false;
AccountArea ShownAccounts{};

namespace {

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent), ui(new Ui::TMainForm)
{
    // The folder picker of the first-use dialog looks for its owner by name.
    setObjectName(QStringLiteral("MainForm"));
    MainForm = this;
    ShownAccounts = AccountArea{};

    FormCreate();
}

// The window's controls are built once the sign-in dialog has closed (see
// FormCreate): nobody sees them before, and building them first would keep
// the person waiting for that dialog.
void TMainForm::buildControls()
{
    Q_INIT_RESOURCE(admin);
    ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(476, 320);
    setWindowIcon(QIcon(QStringLiteral(":/admin/icons/padlock-keys.png")));

    QIcon browse(QStringLiteral(":/admin/icons/browse.png"));
    browse.addFile(QStringLiteral(":/admin/icons/browse-disabled.png"), QSize(16, 16),
                   QIcon::Disabled);
    ui->BrowseBtn->setIcon(browse);

    // A read-only memo that only shows text: no text cursor over it.
    ui->DescriptionLabel->viewport()->setCursor(Qt::ArrowCursor);

    RestrictToAnsi(ui->NameEdit);
    RestrictToAnsi(ui->PPEdit);
    RestrictToAnsi(ui->DPEdit);

    CentreOnScreen(this);

    bindSession();
    bindUserPages();
    bindAccountPage();
}

TMainForm::~TMainForm()
{
    delete NewID_Form;
    NewID_Form = nullptr;
    delete PassWords;
    PassWords = nullptr;
    delete ui;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::UpdateUserNameList()
{
    ui->UserNames->clear();
    const int firstFree = FirstFreeSlot();
    // Users behind a free slot stay unlisted until an add fills that slot.
    const int last = firstFree < 0 ? SlotCount : firstFree - 1;
    for (int n = 1; n <= last; ++n) {
        const AnsiString name = Decoded(Slot(n).LoginName);
        if (TrimControls(name).empty())
            continue;
        AppendListLine(ui->UserNames, FromAnsi(name));
    }
    ui->UserNames->setCurrentRow(-1);
    ui->UserNames->viewport()->update();
}

// ---------------------------------------------------------------------------
// User pages: the user list, "User Details", "User Editor" and the user
// buttons.
// ---------------------------------------------------------------------------

#include "signin/FolderPicker.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QValidator>

namespace {

// The placeholder password, upper-cased; Save Changes never stores it.
constexpr const char* ReservedPassword = "NEWPASSWORD";

// The password box holds the 11-character placeholder "NewPassWord" that
// Modify puts there, yet takes no ninth character from the keyboard. The
// box's own length limit would cut the placeholder, so the limit lives
// here: typing or pasting never takes the text past the limit or lengthens
// a longer text the program set, while such a text can still be shortened.
class PasswordValidator : public QValidator
{
public:
    PasswordValidator(QLineEdit* edit, int limit)
        : QValidator(edit), m_limit(limit), m_length(edit->text().size())
    {
        // The box already holds the new text when it asks; remember the
        // length of the last text it kept.
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString& text) { m_length = text.size(); });
    }

    State validate(QString& input, int&) const override
    {
        if (!IsAnsiRepresentable(input))
            return Invalid;
        if (input.size() > m_limit && input.size() > m_length)
            return Invalid;
        return Acceptable;
    }

    // Announces a text the program is about to set, so it is not refused.
    void expectLength(qsizetype length) const { m_length = length; }

private:
    int m_limit;
    mutable qsizetype m_length;
};

void setLongText(QLineEdit* edit, const QString& text)
{
    if (const auto* validator = dynamic_cast<const PasswordValidator*>(edit->validator()))
        validator->expectLength(text.size());
    edit->setText(text);
}

// The combo entry of a stored right: "0" is "True", "1" is "False"; a
// damaged right selects nothing, so it has to be chosen again.
int comboIndexOfRight(const ShortString<1>& right)
{
    const AnsiString flag = Decoded(right);
    if (flag == "0")
        return 0;
    if (flag == "1")
        return 1;
    return -1;
}

void showError(const QString& text)
{
    MessageBox::show(MessageBox::Kind::Error, text, MessageBox::Buttons::Ok);
}

} // namespace

void TMainForm::bindUserPages()
{
    // The box's default limit; the validator keeps the real one.
    ui->PPEdit->setMaxLength(32767);
    ui->PPEdit->setValidator(new PasswordValidator(ui->PPEdit, 8));

    connect(ui->UserNames, &QListWidget::currentRowChanged, this, [this] { UserNamesClick(); });
    for (QLineEdit* edit : {ui->NameEdit, ui->PPEdit, ui->DPEdit})
        connect(edit, &QLineEdit::textChanged, this, [this] { NameEditChange(); });
    // `activated` comes only from a pick by the user, not from the program.
    for (QComboBox* combo :
         {ui->ARCombo, ui->DRCombo, ui->MRCombo, ui->AUCombo, ui->MUCombo, ui->DUCombo})
        connect(combo, &QComboBox::activated, this, [this] { NameEditChange(); });
    connect(ui->AddButton, &QPushButton::clicked, this, [this] { AddButtonClick(); });
    connect(ui->DeleteButton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(ui->ModifyButton, &QPushButton::clicked, this, [this] { ModifyButtonClick(); });
    connect(ui->SaveChangeButton, &QPushButton::clicked, this, [this] { SaveChangeButtonClick(); });
    connect(ui->BrowseBtn, &QToolButton::clicked, this, [this] { BrowseBtnClick(); });
}

void TMainForm::UserNamesClick()
{
    // Bound to the current line, which a click or a key moves before the
    // selection follows it.
    const QListWidgetItem* item = ui->UserNames->currentItem();
    if (!item)
        return;
    const int slot = FindUser(ToAnsi(item->text()));
    if (slot == 0)
        return;
    ShowUserInfo(Slot(slot));
    ShownAccounts = Slot(slot).Accounts;
    RefreshAccoList();
}

void TMainForm::ShowUserInfo(const UserRecord& record)
{
    ui->UserNameDisplay->setText(FromAnsi(Decoded(record.LoginName)));

    const AnsiString password = Decoded(record.Password);
    ui->UserPPDisplay->setText(
        password == Decoded(CurrentUser.Password) ? FromAnsi(password) : QStringLiteral("Hidden"));

    const QString dataPath = FromAnsi(Decoded(record.DataPath));
    ui->DataPathLabel->setText(dataPath);
    ui->DataPathLabel->setToolTip(dataPath);

    ui->DeleteRecordDisplay->setText(
        QString::fromLatin1(FlagToRightText(Decoded(record.DeleteRecord))));
    ui->ModifyRecordDisplay->setText(
        QString::fromLatin1(FlagToRightText(Decoded(record.ModifyRecord))));
    ui->AddRecordDisplay->setText(QString::fromLatin1(FlagToRightText(Decoded(record.AddRecord))));
    ui->DeleteUserDisplay->setText(
        QString::fromLatin1(FlagToRightText(Decoded(record.DeleteUsers))));
    ui->ModifyUsersDisplay->setText(
        QString::fromLatin1(FlagToRightText(Decoded(record.ModifyUsers))));
    ui->AddUsersDisplay->setText(QString::fromLatin1(FlagToRightText(Decoded(record.AddUsers))));
}

void TMainForm::fillActionSheet(const UserRecord& record)
{
    ui->UserPages->setCurrentWidget(ui->ActionSheet);

    ui->NameEdit->setText(FromAnsi(Decoded(record.LoginName)));
    // The stored password is never shown; Save Changes refuses this word.
    setLongText(ui->PPEdit, QStringLiteral("NewPassWord"));
    ui->DPEdit->setText(FromAnsi(Decoded(record.DataPath)));

    ui->ARCombo->setCurrentIndex(comboIndexOfRight(record.AddRecord));
    ui->DRCombo->setCurrentIndex(comboIndexOfRight(record.DeleteRecord));
    ui->MRCombo->setCurrentIndex(comboIndexOfRight(record.ModifyRecord));
    ui->AUCombo->setCurrentIndex(comboIndexOfRight(record.AddUsers));
    ui->MUCombo->setCurrentIndex(comboIndexOfRight(record.ModifyUsers));
    ui->DUCombo->setCurrentIndex(comboIndexOfRight(record.DeleteUsers));
}

void TMainForm::clearActionSheet()
{
    ui->NameEdit->clear();
    ui->PPEdit->clear();
    ui->DPEdit->clear();
    for (QComboBox* combo :
         {ui->ARCombo, ui->DRCombo, ui->MRCombo, ui->AUCombo, ui->MUCombo, ui->DUCombo})
        combo->setCurrentIndex(-1);
}

bool TMainForm::editorFilled()
{
    const QString texts[] = {
        ui->NameEdit->text(),       ui->PPEdit->text(),         ui->DPEdit->text(),
        ui->DRCombo->currentText(), ui->ARCombo->currentText(), ui->MRCombo->currentText(),
        ui->MUCombo->currentText(), ui->AUCombo->currentText(), ui->DUCombo->currentText()};
    for (const QString& text : texts) {
        if (TrimControls(ToAnsi(text)).empty()) {
            showError(QStringLiteral("Please fill all sections."));
            return false;
        }
    }
    return true;
}

UserRecord TMainForm::recordFromEditor() const
{
    UserRecord plain{};
    plain.LoginName.assign(ToAnsi(ui->NameEdit->text()));
    plain.Password.assign(ToAnsi(ui->PPEdit->text()));
    plain.DataPath.assign(ToAnsi(ui->DPEdit->text()));
    const auto flag = [](const QComboBox* combo) {
        return RightTextToFlag(ToAnsi(combo->currentText()));
    };
    plain.DeleteRecord.assign(flag(ui->DRCombo));
    plain.DeleteUsers.assign(flag(ui->DUCombo));
    plain.ModifyRecord.assign(flag(ui->MRCombo));
    plain.ModifyUsers.assign(flag(ui->MUCombo));
    plain.AddRecord.assign(flag(ui->ARCombo));
    plain.AddUsers.assign(flag(ui->AUCombo));
    return plain;
}

void TMainForm::AddButtonClick()
{
    // In front first, so an empty editor shows behind the message.
    ui->UserPages->setCurrentWidget(ui->ActionSheet);
    if (!editorFilled())
        return;

    const AnsiString name = UpperAscii(TrimControls(ToAnsi(ui->NameEdit->text())));
    for (int i = 0; i < ui->UserNames->count(); ++i) {
        if (UpperAscii(ToAnsi(ui->UserNames->item(i)->text())) == name) {
            showError(QStringLiteral("User already exist."));
            return;
        }
    }

    ClearEmptySlots();
    if (FirstFreeSlot() < 0) {
        showError(QStringLiteral("The user table is full: no more than five users can be kept."));
        return;
    }

    StoreNewUser(recordFromEditor());
    clearActionSheet();
    UpdateUserNameList();
    TableChanged = true;
}

void TMainForm::DeleteButtonClick()
{
    if (ui->UserNames->count() == 0) {
        showError(QStringLiteral("The user database is empty!"));
        return;
    }
    QString name;
    if (!SelectedLineText(ui->UserNames, name)) {
        showError(QStringLiteral("Select an user first please."));
        return;
    }
    // Only an explicit Yes deletes: a box closed without an answer keeps the
    // user.
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Do you really want to DELETE user ") + name +
                             QStringLiteral(" ?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;

    const int slot = FindUser(ToAnsi(name));
    if (slot == 0)
        return;
    RemoveUserSlot(slot);
    UpdateUserNameList();
    TableChanged = true;
}

void TMainForm::ModifyButtonClick()
{
    QString name;
    if (!SelectedLineText(ui->UserNames, name))
        return;
    const int slot = FindUser(ToAnsi(name));
    if (slot == 0)
        return;
    EditedSlot = slot;
    EditedName = Decoded(Slot(slot).LoginName);
    fillActionSheet(Slot(slot));
}

void TMainForm::SaveChangeButtonClick()
{
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Do you want to save the changes?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;
    if (!editorFilled())
        return;
    if (UpperAscii(ToAnsi(ui->PPEdit->text())) == ReservedPassword) {
        showError(QStringLiteral("The NewPassWord is a reserved word, please try another one."));
        return;
    }

    // A deletion or an earlier Save Changes may have moved the loaded user
    // to another slot since Modify: look for it again by the name Modify
    // loaded, and never touch a user who is not that one.
    if (EditedName.empty()) {
        showError(QStringLiteral(
            "No user has been loaded for editing: select a user and press Modify first."));
        return;
    }
    int slot = EditedSlot;
    if (slot < 1 || slot > SlotCount || Decoded(Slot(slot).LoginName) != EditedName)
        slot = FindUser(EditedName);
    if (slot == 0) {
        showError(
            QStringLiteral("The user being edited no longer exists: load it again with Modify."));
        return;
    }

    const AccountArea accounts = Slot(slot).Accounts;
    RemoveUserSlot(slot);
    const int target = FirstFreeSlot();
    StoreNewUser(recordFromEditor());
    Slot(target).Accounts = accounts;

    if (!ReportingIoErrors([] { SaveUserTable(); })) {
        // The table in memory holds the change the file does not: the close
        // must still offer to save it.
        TableChanged = true;
        return;
    }

    UpdateUserNameList();
    clearActionSheet();
    ui->SaveChangeButton->setVisible(false);
    ui->SaveChangeButton->setEnabled(false);
    TableChanged = false;
}

void TMainForm::NameEditChange()
{
    // TableChanged is left alone: an edit says nothing about whether an add
    // or a deletion has been saved.
    ui->SaveChangeButton->setVisible(true);
    ui->SaveChangeButton->setEnabled(true);
}

void TMainForm::BrowseBtnClick()
{
    QString folder;
    if (ChooseFolder(QStringLiteral("Database Directory"), QString(), folder))
        ui->DPEdit->setText(folder);
}
