#include "MainForm.h"

#include "ui_MainForm.h"

#include "ChangePasswordDialog.h"
#include "TableWatcher.h"

#include "session/Session.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/FolderPicker.h"
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

// The password box holds the 11-character placeholder (NewPassWord) that
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
        if (!isStorableText(input))
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

// The combo entry of a right: "True" is the first, "False" the second; a
// damaged right selects nothing, so it has to be chosen again.
int comboIndexOfRight(const UserData& user, Right right)
{
    if (user.unreadable.has(right))
        return -1;
    return user.rights.has(right) ? 0 : 1;
}

const char* rightText(const UserData& user, Right right)
{
    return user.rights.has(right) ? "TRUE" : "FALSE";
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
    : QWidget(parent), m_session(session), m_ui(new Ui::TMainForm)
{
    Q_INIT_RESOURCE(admin);
    m_ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(476, 320);
    setWindowIcon(QIcon(QStringLiteral(":/admin/icons/padlock-keys.png")));

    QIcon browse(QStringLiteral(":/admin/icons/browse.png"));
    browse.addFile(QStringLiteral(":/admin/icons/browse-disabled.png"), QSize(16, 16),
                   QIcon::Disabled);
    m_ui->BrowseBtn->setIcon(browse);

    restrictToStorable(m_ui->NameEdit);
    restrictToStorable(m_ui->PPEdit);
    restrictToStorable(m_ui->DPEdit);
    m_ui->NameEdit->setMaxLength(static_cast<int>(MaxLoginName));
    // The box's default limit; the validator keeps the real one.
    m_ui->PPEdit->setMaxLength(32767);
    m_ui->PPEdit->setValidator(new PasswordValidator(m_ui->PPEdit, static_cast<int>(MaxPassword)));

    centreOnScreen(this);
    for (int i = 0; i < m_ui->UserPages->count(); ++i)
        m_sheets.append({m_ui->UserPages->widget(i), m_ui->UserPages->tabText(i)});

    connect(m_ui->ExitButton, &QPushButton::clicked, this, [this] { ExitButtonClick(); });
    connect(m_ui->ExitButton2, &QPushButton::clicked, this, [this] { ExitButtonClick(); });
    // Every change of the selected line is a person's pick, however made: a
    // click with any button, a drag, the keys, a screen reader. Taking the
    // focus moves only the current line, never the selection, and the
    // program's own rebuild of the list is kept out of this.
    connect(m_ui->UserNames, &QListWidget::itemSelectionChanged, this, [this] {
        m_pickedSincePress = true;
        UserNamesClick();
    });
    // A click on the line already selected changes no selection, yet picks
    // its user again: the Bank Account sheet is shown afresh.
    connect(m_ui->UserNames, &QListWidget::clicked, this, [this] {
        if (!m_pickedSincePress)
            UserNamesClick();
    });
    m_ui->UserNames->viewport()->installEventFilter(this);
    for (QLineEdit* edit : {m_ui->NameEdit, m_ui->PPEdit, m_ui->DPEdit})
        connect(edit, &QLineEdit::textChanged, this, [this] { NameEditChange(); });
    // `activated` comes only from a pick by the user, not from the program.
    for (QComboBox* combo : rightsCombos(m_ui))
        connect(combo, &QComboBox::activated, this, [this] { NameEditChange(); });
    connect(m_ui->AddButton, &QPushButton::clicked, this, [this] { AddButtonClick(); });
    connect(m_ui->DeleteButton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(m_ui->ModifyButton, &QPushButton::clicked, this, [this] { ModifyButtonClick(); });
    connect(m_ui->SaveChangeButton, &QPushButton::clicked, this,
            [this] { SaveChangeButtonClick(); });
    connect(m_ui->BrowseBtn, &QToolButton::clicked, this, [this] { BrowseBtnClick(); });
    connect(m_ui->PasswordButton, &QPushButton::clicked, this, [this] { passwordButtonClick(); });
}

TMainForm::~TMainForm()
{
    qDeleteAll(m_withdrawn);
    delete m_ui;
}

void TMainForm::setBankAccountPage(QWidget* page)
{
    auto* layout = new QVBoxLayout(m_ui->UserBankAccountInfoSheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->UserNames->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        m_pickedSincePress = false;
    return QWidget::eventFilter(watched, event);
}

void TMainForm::withdrawSheet(QWidget* sheet)
{
    const int index = m_ui->UserPages->indexOf(sheet);
    if (index < 0)
        return;
    m_ui->UserPages->removeTab(index);
    sheet->setParent(nullptr);
    m_withdrawn.append(sheet);
}

void TMainForm::applyRights()
{
    setWindowTitle(QStringLiteral("KVS - ") + QString::fromStdString(m_session.me().loginName));

    m_ui->AddButton->setEnabled(m_session.mayAdd());
    m_ui->DeleteButton->setEnabled(m_session.mayDelete());
    m_ui->ModifyButton->setEnabled(m_session.mayModify());
    // Anyone signed in may change their own password, whatever their rights.
    m_ui->PasswordButton->setEnabled(m_session.signedIn() && !m_session.signedOut());

    const bool canAdd = m_ui->AddButton->isEnabled();
    const bool canDelete = m_ui->DeleteButton->isEnabled();
    const bool canModify = m_ui->ModifyButton->isEnabled();
    placeSheet(m_ui->ActionSheet, canAdd || canModify);
    placeSheet(m_ui->UserInfoSheet, canModify || canDelete);
    placeSheet(m_ui->UserBankAccountInfoSheet, canModify && canDelete);

    for (QComboBox* combo : rightsCombos(m_ui))
        combo->setEnabled(m_session.mayEditRights());

    // Signed out, every button but Exit and every sheet is gone already;
    // the person is told why, once, when it happens.
    if (m_session.signedOut() && !m_toldSignedOut) {
        m_toldSignedOut = true;
        MessageBox::show(MessageBox::Kind::Warning,
                         QString::fromStdString(m_session.signedOutNotice()));
    }
}

void TMainForm::placeSheet(QWidget* sheet, bool wanted)
{
    const bool placed = m_ui->UserPages->indexOf(sheet) >= 0;
    if (!wanted) {
        if (placed)
            withdrawSheet(sheet);
        return;
    }
    if (placed)
        return;
    // Rights given back in the file: the sheet returns to its own place.
    int index = 0;
    for (const auto& [designed, title] : m_sheets) {
        if (designed == sheet) {
            m_withdrawn.removeAll(sheet);
            m_ui->UserPages->insertTab(index, sheet, title);
            return;
        }
        if (m_ui->UserPages->indexOf(designed) >= 0)
            ++index;
    }
}

void TMainForm::showTableAgain()
{
    const std::optional<QString> pick = selectedLineText(m_ui->UserNames);
    UpdateUserNameList();
    const std::optional<UserData> user =
        pick ? m_session.user(pick->toStdString()) : std::optional<UserData>();
    if (!user)
        return;
    const QString& picked = *pick;
    for (int row = 0; row < m_ui->UserNames->count(); ++row) {
        if (m_ui->UserNames->item(row)->text() != picked)
            continue;
        {
            // The same user, picked again by the program: no pick of a person.
            const QSignalBlocker quiet(m_ui->UserNames);
            m_ui->UserNames->setCurrentRow(row);
        }
        ShowUserInfo(*user);
        emit userPicked(picked);
        return;
    }
}

void TMainForm::followTable(TableWatcher& watcher)
{
    connect(&watcher, &TableWatcher::tableMayHaveChanged, this, [this] { showFileAsItIs(); });
}

void TMainForm::showFileAsItIs()
{
    const ChangeResult result = m_session.refresh();
    // A file that cannot be read now is left to the next change or save,
    // which says why: a look nobody asked for raises no error box.
    if (result.outcome == ChangeResult::Outcome::Failed)
        return;
    if (result.done() && !result.refreshed)
        return;
    // Rights and sheets first: signed out, only Exit is left, and the person
    // is told so there.
    applyRights();
    if (reportFailure(result))
        return;
    showTableAgain();
    showWarning(result);
}

void TMainForm::UpdateUserNameList()
{
    // Emptying the list and leaving no line selected is nobody's pick.
    const QSignalBlocker noPick(m_ui->UserNames);
    m_ui->UserNames->clear();
    for (const std::string& name : m_session.listedNames())
        appendListLine(m_ui->UserNames, QString::fromStdString(name));
    m_ui->UserNames->setCurrentRow(-1);
    m_ui->UserNames->viewport()->update();
}

void TMainForm::disableSaveChangeButton()
{
    m_ui->SaveChangeButton->setEnabled(false);
}

std::optional<QString> TMainForm::selectedUserName() const
{
    return selectedLineText(m_ui->UserNames);
}

bool TMainForm::FormCloseQuery()
{
    // Signed out by someone else's change: there is nothing left to save.
    if (!m_session.TableChanged() || m_session.signedOut())
        return true;
    switch (MessageBox::show(MessageBox::Kind::Confirmation,
                             QStringLiteral("Do you want to save the changes?"),
                             MessageBox::Buttons::YesNoCancel)) {
    case MessageBox::Button::Yes: {
        // A failed save keeps the window open with its changes.
        const ChangeResult result = m_session.save();
        if (reportFailure(result))
            return m_session.signedOut();
        showWarning(result);
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
    if (terminateRequested() || FormCloseQuery())
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
    const std::optional<QString> name = selectedLineText(m_ui->UserNames);
    if (!name)
        return;
    const std::optional<UserData> user = m_session.user(name->toStdString());
    if (!user)
        return;
    ShowUserInfo(*user);
    emit userPicked(*name);
}

void TMainForm::ShowUserInfo(const UserData& user)
{
    m_ui->UserNameDisplay->setText(QString::fromStdString(user.loginName));
    m_ui->UserPPDisplay->setText(QString::fromStdString(m_session.shownPassword(user)));

    const QString dataPath = QString::fromStdString(user.dataPath);
    m_ui->DataPathLabel->setText(dataPath);
    m_ui->DataPathLabel->setToolTip(dataPath);

    m_ui->DeleteRecordDisplay->setText(QString::fromLatin1(rightText(user, Right::DeleteRecord)));
    m_ui->ModifyRecordDisplay->setText(QString::fromLatin1(rightText(user, Right::ModifyRecord)));
    m_ui->AddRecordDisplay->setText(QString::fromLatin1(rightText(user, Right::AddRecord)));
    m_ui->DeleteUserDisplay->setText(QString::fromLatin1(rightText(user, Right::DeleteUsers)));
    m_ui->ModifyUsersDisplay->setText(QString::fromLatin1(rightText(user, Right::ModifyUsers)));
    m_ui->AddUsersDisplay->setText(QString::fromLatin1(rightText(user, Right::AddUsers)));
}

void TMainForm::fillActionSheet(const UserData& user)
{
    m_ui->UserPages->setCurrentWidget(m_ui->ActionSheet);

    m_ui->NameEdit->setText(QString::fromStdString(user.loginName));
    // The stored password is never shown; Save Changes refuses this word.
    setLongText(m_ui->PPEdit, QString::fromUtf8(Session::PasswordPlaceholder));
    m_ui->DPEdit->setText(QString::fromStdString(user.dataPath));

    m_ui->ARCombo->setCurrentIndex(comboIndexOfRight(user, Right::AddRecord));
    m_ui->DRCombo->setCurrentIndex(comboIndexOfRight(user, Right::DeleteRecord));
    m_ui->MRCombo->setCurrentIndex(comboIndexOfRight(user, Right::ModifyRecord));
    m_ui->AUCombo->setCurrentIndex(comboIndexOfRight(user, Right::AddUsers));
    m_ui->MUCombo->setCurrentIndex(comboIndexOfRight(user, Right::ModifyUsers));
    m_ui->DUCombo->setCurrentIndex(comboIndexOfRight(user, Right::DeleteUsers));
}

void TMainForm::clearActionSheet()
{
    m_ui->NameEdit->clear();
    m_ui->PPEdit->clear();
    m_ui->DPEdit->clear();
    for (QComboBox* combo : rightsCombos(m_ui))
        combo->setCurrentIndex(-1);
    // An emptied editor holds nobody: a later Save Changes must not take
    // whatever is typed next for the user Modify loaded before.
    m_editedUser = LoadedUser();
}

UserData TMainForm::userFromEditor() const
{
    UserData user;
    user.loginName = m_ui->NameEdit->text().toStdString();
    user.password = m_ui->PPEdit->text().toStdString();
    user.dataPath = m_ui->DPEdit->text().toStdString();
    const std::pair<Right, const QComboBox*> combos[] = {
        {Right::DeleteRecord, m_ui->DRCombo}, {Right::AddRecord, m_ui->ARCombo},
        {Right::ModifyRecord, m_ui->MRCombo}, {Right::ModifyUsers, m_ui->MUCombo},
        {Right::AddUsers, m_ui->AUCombo},     {Right::DeleteUsers, m_ui->DUCombo}};
    for (const auto& [right, combo] : combos) {
        // "True" is the first entry; a box without a choice names none.
        user.rights.set(right, combo->currentIndex() == 0);
        user.unreadable.set(right, combo->currentIndex() < 0);
    }
    return user;
}

bool TMainForm::reportFailure(const ChangeResult& result)
{
    // A sign-out told once already, with what is left to do, is not told again.
    return showFailure(result, m_toldSignedOut);
}

void TMainForm::AddButtonClick()
{
    // In front first, so an empty editor shows behind the message.
    if (m_ui->UserPages->indexOf(m_ui->ActionSheet) >= 0)
        m_ui->UserPages->setCurrentWidget(m_ui->ActionSheet);
    const ChangeResult result = m_session.addUser(userFromEditor());
    applyRights();
    if (reportFailure(result))
        return;
    clearActionSheet();
    UpdateUserNameList();
}

void TMainForm::DeleteButtonClick()
{
    if (m_ui->UserNames->count() == 0) {
        showError(QStringLiteral("The user database is empty!"));
        return;
    }
    const std::optional<QString> picked = selectedLineText(m_ui->UserNames);
    if (!picked) {
        showError(QStringLiteral("Select an user first please."));
        return;
    }
    const QString& name = *picked;
    // Only an explicit Yes deletes: a box closed without an answer keeps the
    // user.
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Do you really want to DELETE user ") + name +
                             QStringLiteral(" ?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;

    const ChangeResult result = m_session.deleteUser(name.toStdString());
    applyRights();
    if (result.reason == ChangeResult::Reason::NoSuchUser || reportFailure(result))
        return;
    UpdateUserNameList();
    // Deleting one's own login ID: what follows is said now.
    showWarning(result);
}

void TMainForm::ModifyButtonClick()
{
    const std::optional<QString> name = selectedLineText(m_ui->UserNames);
    if (!name)
        return;
    const std::optional<UserData> user = m_session.user(name->toStdString());
    if (!user)
        return;
    const LoadedUser loaded = m_session.loadForEditing(user->loginName);
    fillActionSheet(*user);
    // After the editor was filled: filling it runs its change handlers.
    m_editedUser = loaded;
}

void TMainForm::SaveChangeButtonClick()
{
    if (MessageBox::show(MessageBox::Kind::Confirmation,
                         QStringLiteral("Do you want to save the changes?"),
                         MessageBox::Buttons::YesNo) != MessageBox::Button::Yes)
        return;

    // A refused or failed change leaves table, list and editor as they
    // were, so the person can try again.
    const ChangeResult result = m_session.saveChanges(m_editedUser, userFromEditor());
    applyRights();
    if (reportFailure(result) || result.outcome == ChangeResult::Outcome::Cancelled)
        return;
    UpdateUserNameList();
    if (result.outcome == ChangeResult::Outcome::Reloaded)
        return;

    clearActionSheet();
    m_ui->SaveChangeButton->setVisible(false);
    m_ui->SaveChangeButton->setEnabled(false);
    showWarning(result);
}

void TMainForm::passwordButtonClick()
{
    ChangePasswordDialog dialog(m_session, this);
    execModal(dialog);
    const ChangeResult& result = dialog.result();
    applyRights();
    // The save carried the adds and deletions waiting, and perhaps others'
    // changes it was made on.
    if (result.refreshed || result.done())
        showTableAgain();
    if (result.done())
        showWarning(result);
}

void TMainForm::NameEditChange()
{
    // The session's unsaved-changes flag is left alone: an edit says nothing
    // about whether an add or a deletion has been saved.
    m_ui->SaveChangeButton->setVisible(true);
    m_ui->SaveChangeButton->setEnabled(true);
}

void TMainForm::BrowseBtnClick()
{
    QString folder;
    if (ChooseFolder(QStringLiteral("Database Directory"), QString(), folder))
        m_ui->DPEdit->setText(folder);
}
