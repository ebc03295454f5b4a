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
    if (m_result.done()) {
        MessageBox::show(MessageBox::Kind::Information, FromAnsi(Session::ownPasswordChangedText()),
                         MessageBox::Buttons::Ok);
        accept();
        return;
    }
    // Refused or failed, the person may try again; signed out, nothing is
    // left to try, and the window says why.
    if (showFailure(m_result) && m_result.reason != ChangeResult::Reason::SignedOut)
        return;
    reject();
}
