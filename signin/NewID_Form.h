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

    bool SetupDone = false;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool FormCloseQuery() const { return SetupDone; }
    void FormShow();
    void DataPathButtonClick();
    void Done_ButtonClick();
    void Terminate_ButtonClick();
    void setDataPath(const QString& path);

    Session& m_session;
    QString m_workingDir;
    Ui::TNewID_Form* ui;
};

// A path of more than 30 characters shows as its first 30 and "...".
QString ShortenedPath(const QString& path);
