#include "ChangePasswordDialog.h"

#include "ui_ChangePasswordDialog.h"

#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

ChangePasswordDialog::ChangePasswordDialog(Session& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_ui(new Ui::ChangePasswordDialog)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    for (QLineEdit* edit :
         {m_ui->OldPasswordEdit, m_ui->NewPasswordEdit, m_ui->RepeatPasswordEdit}) {
        restrictToStorable(edit);
        edit->setMaxLength(static_cast<int>(MaxPassword));
    }
    connect(m_ui->Buttons, &QDialogButtonBox::accepted, this, [this] { tryChange(); });
    connect(m_ui->Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ChangePasswordDialog::~ChangePasswordDialog()
{
    delete m_ui;
}

void ChangePasswordDialog::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        placeDialog(this);
    QDialog::showEvent(event);
}

void ChangePasswordDialog::tryChange()
{
    m_result = m_session.changeOwnPassword(m_ui->OldPasswordEdit->text().toStdString(),
                                           m_ui->NewPasswordEdit->text().toStdString(),
                                           m_ui->RepeatPasswordEdit->text().toStdString());
    if (m_result.done()) {
        MessageBox::show(MessageBox::Kind::Information,
                         QString::fromStdString(Session::ownPasswordChangedText()),
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
