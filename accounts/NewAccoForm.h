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

    // Fills the two boxes (Modify); the description as stored, CR LF breaks.
    void setEntryTexts(const QString& name, const QString& description);

public slots:
    // Escape and every close other than the two buttons act as Cancel; a
    // close request reaches here through QDialog::closeEvent.
    void reject() override;

private:
    void SaveBtnClick();
    void SpeedButton1Click();
    void keepDescriptionWithinLimit();

    // Stored characters, each line break counting as CR LF.
    static constexpr int MaxDescriptionLength = 70;

    Ui::TNewAccoForm* ui;
    // The memo's text after its last change within the limit.
    QString m_acceptedDescription;
};

extern TNewAccoForm* NewAccoForm;
