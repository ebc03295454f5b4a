#pragma once

#include <QDialog>

class Session;

namespace Ui {
class TNewID_Form;
}

// The first-use dialog: creates the first login ID with all rights.
class TNewID_Form : public QDialog
{
    Q_OBJECT

public:
    // Creates the first user of `session`'s table; `workingDir` is the
    // data path offered first, and where the first-use marker lies.
    TNewID_Form(Session& session, const QString& workingDir, QWidget* parent = nullptr);
    ~TNewID_Form() override;

    // Whether the first login ID was made.
    bool SetupDone() const { return m_setupDone; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool FormCloseQuery() const { return m_setupDone; }
    void FormShow();
    void DataPathButtonClick();
    void Done_ButtonClick();
    void Terminate_ButtonClick();
    void setDataPath(const QString& path);

    Session& m_session;
    QString m_workingDir;
    Ui::TNewID_Form* m_ui;
    bool m_setupDone = false;
};

// A path of more than 30 characters shows as its first 30 and "...".
QString shortenedPath(const QString& path);
