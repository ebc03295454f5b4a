#include "NewAccoForm.h"

#include "ui_NewAccoForm.h"

#include "session/Session.h"
#include "ui/CodePage.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"

#include <QShowEvent>
#include <QTextCursor>

namespace {

// Stored characters, each line break counting as CR LF.
int maxDescriptionLength()
{
    return static_cast<int>(MaxDescription);
}

// The description is stored with CR LF line breaks, so each break the memo
// shows takes two of the stored characters.
int storedLength(const QString& memoText)
{
    return static_cast<int>(memoText.size() + memoText.count(QLatin1Char('\n')));
}

QString toStoredBreaks(QString memoText)
{
    return memoText.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QString toMemoBreaks(QString storedText)
{
    return storedText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

TNewAccoForm::TNewAccoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_ui(new Ui::TNewAccoForm)
{
    m_ui->setupUi(this);
    setFixedSize(324, 148);

    restrictToStorable(m_ui->NameEdit);
    restrictToStorable(m_ui->DescriptionMemo);
    m_ui->NameEdit->setMaxLength(static_cast<int>(MaxAccountName));
    m_acceptedDescription = m_ui->DescriptionMemo->toPlainText();
    connect(m_ui->DescriptionMemo, &QPlainTextEdit::textChanged, this,
            &TNewAccoForm::keepDescriptionWithinLimit);

    connect(m_ui->SaveBtn, &QPushButton::clicked, this, &TNewAccoForm::SaveBtnClick);
    connect(m_ui->SpeedButton1, &QPushButton::clicked, this, &TNewAccoForm::SpeedButton1Click);
}

TNewAccoForm::~TNewAccoForm()
{
    delete m_ui;
}

void TNewAccoForm::setEntry(const AccountData& account)
{
    m_ui->NameEdit->setText(QString::fromStdString(account.name));
    m_ui->DescriptionMemo->setPlainText(toMemoBreaks(QString::fromStdString(account.description)));
    m_shown = Shown{account, m_ui->NameEdit->text(), m_ui->DescriptionMemo->toPlainText()};
}

// Whatever typing or pasting adds beyond the limit is cut from the end of
// what was added, so the rest of the text stays as it was.
void TNewAccoForm::keepDescriptionWithinLimit()
{
    const QString text = m_ui->DescriptionMemo->toPlainText();
    if (storedLength(text) <= maxDescriptionLength()) {
        m_acceptedDescription = text;
        return;
    }

    const QString& before = m_acceptedDescription;
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < text.size() && before[prefix] == text[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < text.size() - prefix &&
           before[before.size() - 1 - suffix] == text[text.size() - 1 - suffix])
        ++suffix;

    const qsizetype addedEnd = text.size() - suffix;
    int length = storedLength(text);
    qsizetype keptEnd = addedEnd;
    while (keptEnd > prefix && length > maxDescriptionLength()) {
        --keptEnd;
        length -= text[keptEnd] == QLatin1Char('\n') ? 2 : 1;
    }
    // Only when the text was already too long before this change (set from
    // outside) can it still be over the limit: then cut its end.
    QString kept = text.left(keptEnd) + text.mid(addedEnd);
    while (storedLength(kept) > maxDescriptionLength())
        kept.chop(1);

    m_acceptedDescription = kept;
    QTextCursor cursor = m_ui->DescriptionMemo->textCursor();
    cursor.setPosition(0);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(kept);
    cursor.setPosition(static_cast<int>(qMin(keptEnd, kept.size())));
    m_ui->DescriptionMemo->setTextCursor(cursor);
}

void TNewAccoForm::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        placeDialog(this, DesignedPosition);
    QDialog::showEvent(event);
}

void TNewAccoForm::SaveBtnClick()
{
    const QString name = m_ui->NameEdit->text();
    const ChangeResult named = Session::checkAccountName(name.toStdString());
    if (!named.done()) {
        MessageBox::show(MessageBox::Kind::Error, QString::fromStdString(named.message));
        m_saved = false;
        return;
    }

    const QString description = m_ui->DescriptionMemo->toPlainText();
    m_accoRec = AccountData{};
    m_accoRec.name = m_shown && name == m_shown->name ? m_shown->entry.name : name.toStdString();
    m_accoRec.description = m_shown && description == m_shown->description
                                ? m_shown->entry.description
                                : toStoredBreaks(description).toStdString();
    m_shown.reset();

    m_ui->NameEdit->clear();
    m_ui->DescriptionMemo->setPlainText(QStringLiteral("No Description."));

    m_saved = true;
    done(QDialog::Accepted);
}

void TNewAccoForm::SpeedButton1Click()
{
    m_ui->NameEdit->clear();
    m_ui->DescriptionMemo->clear();
    m_shown.reset();
    m_saved = false;
    done(QDialog::Rejected);
}

// Escape and any close request other than the two buttons: a Cancel.
void TNewAccoForm::reject()
{
    SpeedButton1Click();
}
