#pragma once

#include "store/UserRecord.h"

#include <QDialog>

namespace Ui {
class TNewAccoForm;
}

// The "New Account" dialog, used by New and Modify alike. Its texts, Saved
// and AccoRec carry over from one use to the next.
class TNewAccoForm : public QDialog
{
    Q_OBJECT

public:
    explicit TNewAccoForm(QWidget* parent = nullptr);
    ~TNewAccoForm() override;

    bool Saved = false;
    // Plain (not scrambled) name and description of the last Save.
    AccountEntry AccoRec{};

    void setEntryTexts(const QString& name, const QString& description);

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SaveBtnClick();
    void SpeedButton1Click();

    Ui::TNewAccoForm* ui;
};

extern TNewAccoForm* NewAccoForm;
