#pragma once

#include "store/UserRecord.h"

#include <QDialog>

#include <optional>

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

    // Fills the two boxes with a stored entry's plain texts (Modify). A text
    // left as shown is saved byte for byte as it was, whatever the boxes
    // made of its line breaks and blanks.
    void setEntry(const AccountEntry& plain);

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
    // The entry Modify put into the boxes, and the texts the boxes then
    // showed; cleared when the dialog closes.
    struct Shown
    {
        AccountEntry entry;
        QString name;
        QString description;
    };
    std::optional<Shown> m_shown;
};
