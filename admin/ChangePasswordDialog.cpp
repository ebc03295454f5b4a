#include "ChangePasswordDialog.h"

#include "ui_ChangePasswordDialog.h"

#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

ChangePasswordDialog::ChangePasswordDialog(Session& session, QWidget* parent)
    : QDialog(parent), m_session(session), ui(new Ui::ChangePasswordDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    for (QLineEdit* edit : {ui->OldPasswordEdit, ui->NewPasswordEdit, ui->RepeatPasswordEdit}) {
        RestrictToAnsi(edit);
        edit->setMaxLength(static_cast<int>(MaxPassword));
    }
    connect(ui->Buttons, &QDialogButtonBox::accepted, this, [this] { tryChange(); });
    connect(ui->Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ChangePasswordDialog::~ChangePasswordDialog()
{
    delete ui;
}

void ChangePasswordDialog::tryChange()
{
    m_result = m_session.changeOwnPassword(ToAnsi(ui->OldPasswordEdit->text()),
                                           ToAnsi(ui->NewPasswordEdit->text()),
                                           ToAnsi(ui->RepeatPasswordEdit->text()));
    switch (m_result.outcome) {
    case ChangeResult::Outcome::Done:
        MessageBox::show(MessageBox::Kind::Information, FromAnsi(Session::ownPasswordChangedText()),
                         MessageBox::Buttons::Ok);
        accept();
        return;
    case ChangeResult::Outcome::Refused:
        // Signed out, nothing is left to try: the window says why.
        if (m_result.reason == ChangeResult::Reason::SignedOut) {
            reject();
            return;
        }
        MessageBox::show(MessageBox::Kind::Error, FromAnsi(m_result.message),
                         MessageBox::Buttons::Ok);
        return;
    case ChangeResult::Outcome::Failed:
        ShowErrorReport(FromAnsi(m_result.message));
        return;
    case ChangeResult::Outcome::Cancelled:
    case ChangeResult::Outcome::Reloaded:
        break;
    }
    reject();
}
