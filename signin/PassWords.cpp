#include "PassWords.h"

#include "ui_PassWords.h"

#include "Picture.h"
#include "session/Session.h"
#include "ui/CodePage.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Terminate.h"
#include "ui/Widgets.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QShowEvent>

namespace {

bool isEnterKey(const QKeyEvent* key)
{
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    return !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

} // namespace

TPassWords::TPassWords(Session& session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_session(session),
      ui(new Ui::TPassWords)
{
    Q_INIT_RESOURCE(signin);
    ui->setupUi(this);
    setFixedSize(375, 184);

    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    QPalette panel = ui->MainPanel->palette();
    panel.setColor(QPalette::Window, Silver);
    panel.setColor(QPalette::Button, Silver);
    panel.setColor(QPalette::WindowText, Navy);
    panel.setColor(QPalette::ButtonText, Navy);
    ui->MainPanel->setPalette(panel);

    PaintPaleEdit(ui->ELoginName);
    PaintPaleEdit(ui->EPersonal_Code);
    // The mask character is otherwise the style's (often a bullet).
    ui->EPersonal_Code->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    RestrictToAnsi(ui->ELoginName);
    RestrictToAnsi(ui->EPersonal_Code);
    ui->ELoginName->setMaxLength(static_cast<int>(MaxLoginName));
    ui->EPersonal_Code->setMaxLength(static_cast<int>(MaxPassword));

    ui->ELoginName->installEventFilter(this);
    ui->EPersonal_Code->installEventFilter(this);
    connect(ui->Btn_OK, &QPushButton::clicked, this, &TPassWords::Btn_OKClick);
    connect(ui->btn_Quit, &QPushButton::clicked, this, &TPassWords::btn_QuitClick);

    ui->ELoginName->setFocus();
}

TPassWords::~TPassWords()
{
    delete ui;
}

void TPassWords::reject()
{
    if (FormCloseQuery())
        QDialog::reject();
}

void TPassWords::showEvent(QShowEvent* event)
{
    // Decoded at the first show, not at creation: a first start creates this
    // dialog and never shows it.
    if (ui->CoverImage->pixmap().isNull())
        ui->CoverImage->setPixmap(ResourcePicture(QStringLiteral(":/signin/images/cover.png")));
    if (!event->spontaneous())
        placeDialog(this);
    QDialog::showEvent(event);
}

void TPassWords::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool TPassWords::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && isEnterKey(static_cast<QKeyEvent*>(event))) {
        // Enter is consumed here, so the dialog never sees it as a default
        // button press.
        if (watched == ui->ELoginName) {
            focusNextChild(); // ELoginNameKeyPress
            return true;
        }
        if (watched == ui->EPersonal_Code) {
            ui->Btn_OK->click(); // EPersonal_CodeKeyPress
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TPassWords::Btn_OKClick()
{
    const auto show = [](Session::SignInResult result) {
        // What is missing is a warning; what is wrong, an error.
        const bool missing = result == Session::SignInResult::EmptyName ||
                             result == Session::SignInResult::EmptyPassword;
        MessageBox::show(missing ? MessageBox::Kind::Warning : MessageBox::Kind::Error,
                         QString::fromLatin1(Session::SignInMessage(result)));
    };

    // The session trims the name and finds a user stored with blanks around
    // the name too.
    const std::string name = ToAnsi(ui->ELoginName->text());
    if (const auto refusal = m_session.RefuseName(name)) {
        show(*refusal);
        if (*refusal == Session::SignInResult::UnknownName)
            ui->ELoginName->setFocus();
        return;
    }

    ui->EPersonal_Code->setFocus();
    const Session::SignInResult result = m_session.SignIn(name, ToAnsi(ui->EPersonal_Code->text()));
    if (result != Session::SignInResult::SignedIn) {
        show(result);
        if (result == Session::SignInResult::WrongPassword) {
            ui->EPersonal_Code->setFocus();
            ui->EPersonal_Code->clear();
        }
        return;
    }

    m_loginState = 1;
    close();
}

void TPassWords::btn_QuitClick()
{
    RequestTerminate();
}
