#pragma once

#include <QDialog>

namespace Ui {
class TNewID_Form;
}

// The first-use dialog: creates the first login ID with all rights.
class TNewID_Form : public QDialog
{
    Q_OBJECT

public:
    explicit TNewID_Form(QWidget* parent = nullptr);
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

    Ui::TNewID_Form* ui;
};

extern TNewID_Form* NewID_Form;

// A path of more than 30 characters shows as its first 30 and "...".
QString ShortenedPath(const QString& path);
