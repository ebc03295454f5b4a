#include "MainForm.h"

#include "ui_MainForm.h"

#include "session/Session.h"
#include "signin/FolderPicker.h"
#include "store/Scramble.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"
#include "ui/Widgets.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QListWidgetItem>
#include <QSignalBlocker>
#include <QVBoxLayout>
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

const QList<QComboBox*> rightsCombos(Ui::TMainForm* ui)
{
    return {ui->ARCombo, ui->DRCombo, ui->MRCombo, ui->AUCombo, ui->DUCombo, ui->MUCombo};
}

} // namespace

TMainForm::TMainForm(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), ui(new Ui::TMainForm)
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

    RestrictToAnsi(ui->NameEdit);
    RestrictToAnsi(ui->PPEdit);
    RestrictToAnsi(ui->DPEdit);
    // The box's default limit; the validator keeps the real one.
    ui->PPEdit->setMaxLength(32767);
    ui->PPEdit->setValidator(new PasswordValidator(ui->PPEdit, 8));

    CentreOnScreen(this);

    connect(ui->ExitButton, &QPushButton::clicked, this, [this] { ExitButtonClick(); });
    connect(ui->ExitButton2, &QPushButton::clicked, this, [this] { ExitButtonClick(); });
    // Every change of the selected line is a person's pick, however made: a
    // click with any button, a drag, the keys, a screen reader. Taking the
    // focus moves only the current line, never the selection, and the
    // program's own rebuild of the list is kept out of this.
    connect(ui->UserNames, &QListWidget::itemSelectionChanged, this, [this] {
        m_pickedSincePress = true;
        UserNamesClick();
    });
    // A click on the line already selected changes no selection, yet picks
    // its user again: the Bank Account sheet is shown afresh.
    connect(ui->UserNames, &QListWidget::clicked, this, [this] {
        if (!m_pickedSincePress)
            UserNamesClick();
    });
    ui->UserNames->viewport()->installEventFilter(this);
    for (QLineEdit* edit : {ui->NameEdit, ui->PPEdit, ui->DPEdit})
        connect(edit, &QLineEdit::textChanged, this, [this] { NameEditChange(); });
    // `activated` comes only from a pick by the user, not from the program.
    for (QComboBox* combo : rightsCombos(ui))
        connect(combo, &QComboBox::activated, this, [this] { NameEditChange(); });
    connect(ui->AddButton, &QPushButton::clicked, this, [this] { AddButtonClick(); });
    connect(ui->DeleteButton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(ui->ModifyButton, &QPushButton::clicked, this, [this] { ModifyButtonClick(); });
    connect(ui->SaveChangeButton, &QPushButton::clicked, this, [this] { SaveChangeButtonClick(); });
    connect(ui->BrowseBtn, &QToolButton::clicked, this, [this] { BrowseBtnClick(); });
}

TMainForm::~TMainForm()
{
    qDeleteAll(m_withdrawn);
    delete ui;
}

void TMainForm::setBankAccountPage(QWidget* page)
{
    auto* layout = new QVBoxLayout(ui->UserBankAccountInfoSheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->UserNames->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        m_pickedSincePress = false;
    return QWidget::eventFilter(watched, event);
}

void TMainForm::withdrawSheet(QWidget* sheet)
{
    const int index = ui->UserPages->indexOf(sheet);
    if (index < 0)
        return;
    ui->UserPages->removeTab(index);
    sheet->setParent(nullptr);
    m_withdrawn.append(sheet);
}

void TMainForm::ApplyRights()
{
    setWindowTitle(QStringLiteral("KVS - ") + FromAnsi(Decoded(m_session.CurrentUser().LoginName)));

    ui->AddButton->setEnabled(m_session.MayAdd());
    ui->DeleteButton->setEnabled(m_session.MayDelete());
    ui->ModifyButton->setEnabled(m_session.MayModify());

    const bool canAdd = ui->AddButton->isEnabled();
    const bool canDelete = ui->DeleteButton->isEnabled();
    const bool canModify = ui->ModifyButton->isEnabled();
    if (!(canAdd || canModify))
        withdrawSheet(ui->ActionSheet);
    if (!(canModify || canDelete))
        withdrawSheet(ui->UserInfoSheet);
    if (!(canModify && canDelete))
        withdrawSheet(ui->UserBankAccountInfoSheet);

    for (QComboBox* combo : rightsCombos(ui))
        combo->setEnabled(m_session.MayEditRights());
}

void TMainForm::UpdateUserNameList()
{
    // Emptying the list and leaving no line selected is nobody's pick.
    const QSignalBlocker noPick(ui->UserNames);
    ui->UserNames->clear();
    for (const AnsiString& name : m_session.ListedNames())
        AppendListLine(ui->UserNames, FromAnsi(name));
    ui->UserNames->setCurrentRow(-1);
    ui->UserNames->viewport()->update();
}

void TMainForm::DisableSaveChangeButton()
{
    ui->SaveChangeButton->setEnabled(false);
}

bool TMainForm::SelectedUserName(QString& name) const
{
    return SelectedLineText(ui->UserNames, name);
}

bool TMainForm::FormCloseQuery()
{
    if (!m_session.TableChanged())
        return true;
    switch (MessageBox::show(MessageBox::Kind::Confirmation,
                             QStringLiteral("Do you want to save the changes?"),
                             MessageBox::Buttons::YesNoCancel)) {
    case MessageBox::Button::Yes: {
        // A failed save keeps the window open with its changes.
        ChangeResult result;
        if (!ReportingIoErrors([&] { result = m_session.Save(); }))
            return false;
        if (!result.message.empty())
            MessageBox::show(MessageBox::Kind::Warning, FromAnsi(result.message));
        // Reloaded: the person chose the file's version over these changes.
        return result.outcome != ChangeResult::Outcome::Cancelled;
    }
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

void TMainForm::UserNamesClick()
{
    QString name;
    if (!SelectedLineText(ui->UserNames, name))
        return;
    const int slot = m_session.Table().FindUser(ToAnsi(name));
    if (slot == 0)
        return;
    ShowUserInfo(m_session.Table().Slot(slot));
    emit userPicked(slot);
}

void TMainForm::ShowUserInfo(const UserRecord& record)
{
    ui->UserNameDisplay->setText(FromAnsi(Decoded(record.LoginName)));

    const AnsiString password = Decoded(record.Password);
    ui->UserPPDisplay->setText(password == Decoded(m_session.CurrentUser().Password)
                                   ? FromAnsi(password)
                                   : QStringLiteral("Hidden"));

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
    for (QComboBox* combo : rightsCombos(ui))
        combo->setCurrentIndex(-1);
    // An emptied editor holds nobody: a later Save Changes must not take
    // whatever is typed next for the user Modify loaded before.
    EditedName.clear();
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

bool TMainForm::reportRefusal(const ChangeResult& result)
{
    if (result.outcome != ChangeResult::Outcome::Refused)
        return false;
    showError(FromAnsi(result.message));
    return true;
}

void TMainForm::AddButtonClick()
{
    // In front first, so an empty editor shows behind the message.
    if (ui->UserPages->indexOf(ui->ActionSheet) >= 0)
        ui->UserPages->setCurrentWidget(ui->ActionSheet);
    if (!editorFilled())
        return;
    if (reportRefusal(m_session.AddUser(recordFromEditor())))
        return;
    clearActionSheet();
    UpdateUserNameList();
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

    const ChangeResult result = m_session.DeleteUser(ToAnsi(name));
    if (result.reason == ChangeResult::Reason::NoSuchUser || reportRefusal(result))
        return;
    UpdateUserNameList();
}

void TMainForm::ModifyButtonClick()
{
    QString name;
    if (!SelectedLineText(ui->UserNames, name))
        return;
    const int slot = m_session.Table().FindUser(ToAnsi(name));
    if (slot == 0)
        return;
    EditedSlot = slot;
    fillActionSheet(m_session.Table().Slot(slot));
    // After the editor was filled: filling it runs its change handlers.
    EditedName = Decoded(m_session.Table().Slot(slot).LoginName);
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

    // A failed write leaves table, list and editor as they were, so the
    // person can try again.
    ChangeResult result;
    if (!ReportingIoErrors(
            [&] { result = m_session.SaveChanges(EditedName, EditedSlot, recordFromEditor()); }))
        return;
    if (reportRefusal(result) || result.outcome == ChangeResult::Outcome::Cancelled)
        return;
    UpdateUserNameList();
    if (result.outcome == ChangeResult::Outcome::Reloaded)
        return;

    clearActionSheet();
    ui->SaveChangeButton->setVisible(false);
    ui->SaveChangeButton->setEnabled(false);
    if (!result.message.empty())
        MessageBox::show(MessageBox::Kind::Warning, FromAnsi(result.message));
}

void TMainForm::NameEditChange()
{
    // The session's unsaved-changes flag is left alone: an edit says nothing
    // about whether an add or a deletion has been saved.
    ui->SaveChangeButton->setVisible(true);
    ui->SaveChangeButton->setEnabled(true);
}

void TMainForm::BrowseBtnClick()
{
    QString folder;
    if (ChooseFolder(QStringLiteral("Database Directory"), QString(), folder))
        ui->DPEdit->setText(folder);
}
