#pragma once

#include "session/UserValues.h"

#include <QDialog>
#include <QPoint>

#include <optional>

namespace Ui {
class TNewAccoForm;
}

// The "New Account" dialog, used by New and Modify alike. Its texts and
// results carry over from one use to the next.
class TNewAccoForm : public QDialog
{
    Q_OBJECT

public:
    explicit TNewAccoForm(QWidget* parent = nullptr);
    ~TNewAccoForm() override;

    // Whether the last use ended with Save.
    bool Saved() const { return m_saved; }
    void setSaved(bool saved) { m_saved = saved; }
    // The name and description of the last Save (its entry: -1).
    const AccountData& AccoRec() const { return m_accoRec; }

    // Fills the two boxes with an account's texts (Modify). A text left as
    // shown is saved byte for byte as it was, whatever the boxes made of its
    // line breaks and blanks.
    void setEntry(const AccountData& account);

public slots:
    // Escape and every close other than the two buttons act as Cancel; a
    // close request reaches here through QDialog::closeEvent.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SaveBtnClick();
    void SpeedButton1Click();
    void keepDescriptionWithinLimit();

    // Where the dialog opens when it fits on the screen there; at a large
    // scale factor it would not.
    static constexpr QPoint DesignedPosition{416, 138};

    Ui::TNewAccoForm* m_ui;
    bool m_saved = false;
    AccountData m_accoRec;
    // The memo's text after its last change within the limit.
    QString m_acceptedDescription;
    // The entry Modify put into the boxes, and the texts the boxes then
    // showed; cleared when the dialog closes.
    struct Shown
    {
        AccountData entry;
        QString name;
        QString description;
    };
    std::optional<Shown> m_shown;
};
