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
      m_ui(new Ui::TPassWords)
{
    Q_INIT_RESOURCE(signin);
    m_ui->setupUi(this);
    setFixedSize(375, 184);

    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    QPalette panel = m_ui->MainPanel->palette();
    panel.setColor(QPalette::Window, Silver);
    panel.setColor(QPalette::Button, Silver);
    panel.setColor(QPalette::WindowText, Navy);
    panel.setColor(QPalette::ButtonText, Navy);
    m_ui->MainPanel->setPalette(panel);

    paintPaleEdit(m_ui->ELoginName);
    paintPaleEdit(m_ui->EPersonal_Code);
    // The mask character is otherwise the style's (often a bullet).
    m_ui->EPersonal_Code->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    restrictToStorable(m_ui->ELoginName);
    restrictToStorable(m_ui->EPersonal_Code);
    m_ui->ELoginName->setMaxLength(static_cast<int>(MaxLoginName));
    m_ui->EPersonal_Code->setMaxLength(static_cast<int>(MaxPassword));

    m_ui->ELoginName->installEventFilter(this);
    m_ui->EPersonal_Code->installEventFilter(this);
    connect(m_ui->Btn_OK, &QPushButton::clicked, this, &TPassWords::Btn_OKClick);
    connect(m_ui->btn_Quit, &QPushButton::clicked, this, &TPassWords::btn_QuitClick);

    m_ui->ELoginName->setFocus();
}

TPassWords::~TPassWords()
{
    delete m_ui;
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
    if (m_ui->CoverImage->pixmap().isNull())
        m_ui->CoverImage->setPixmap(resourcePicture(QStringLiteral(":/signin/images/cover.png")));
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
        if (watched == m_ui->ELoginName) {
            focusNextChild(); // ELoginNameKeyPress
            return true;
        }
        if (watched == m_ui->EPersonal_Code) {
            m_ui->Btn_OK->click(); // EPersonal_CodeKeyPress
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
                         QString::fromLatin1(Session::signInMessage(result)));
    };

    // The session trims the name and finds a user stored with blanks around
    // the name too.
    const std::string name = m_ui->ELoginName->text().toStdString();
    if (const auto refusal = m_session.refuseName(name)) {
        show(*refusal);
        if (*refusal == Session::SignInResult::UnknownName)
            m_ui->ELoginName->setFocus();
        return;
    }

    m_ui->EPersonal_Code->setFocus();
    const Session::SignInResult result =
        m_session.signIn(name, m_ui->EPersonal_Code->text().toStdString());
    if (result != Session::SignInResult::SignedIn) {
        show(result);
        if (result == Session::SignInResult::WrongPassword) {
            m_ui->EPersonal_Code->setFocus();
            m_ui->EPersonal_Code->clear();
        }
        return;
    }

    m_loginState = 1;
    close();
}

void TPassWords::btn_QuitClick()
{
    requestTerminate();
}
