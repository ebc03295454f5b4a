#pragma once

#include <QDialog>

class Session;

namespace Ui {
class TPassWords;
}

// The login dialog. It may close only once a user has signed in.
class TPassWords : public QDialog
{
    Q_OBJECT

public:
    // Signs people in to `session`.
    explicit TPassWords(Session& session, QWidget* parent = nullptr);
    ~TPassWords() override;

    // -1 after creation; 1 once a user has signed in (or the first user was
    // created by the first-use dialog).
    int LoginState() const { return m_loginState; }
    void setLoginState(int state) { m_loginState = state; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool FormCloseQuery() const { return m_loginState == 1; }
    void Btn_OKClick();
    void btn_QuitClick();

    Session& m_session;
    Ui::TPassWords* m_ui;
    int m_loginState = -1;
};
