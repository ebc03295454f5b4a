#pragma once

#include "session/Session.h"

#include <QDialog>

namespace Ui {
class ChangePasswordDialog;
}

// The signed-in user's own password, whatever their rights: the old one and
// the new one twice. The session holds the rules and says what is wrong;
// a refusal keeps the dialog open for another try.
class ChangePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangePasswordDialog(Session& session, QWidget* parent = nullptr);
    ~ChangePasswordDialog() override;

    // What the last try came to, for the window behind: a table brought up
    // to date, a warning, a sign-out.
    const ChangeResult& result() const { return m_result; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tryChange();

    Session& m_session;
    Ui::ChangePasswordDialog* m_ui;
    ChangeResult m_result;
};
