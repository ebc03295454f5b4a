#include "NewID_Form.h"

#include "ui_NewID_Form.h"

#include "Picture.h"
#include "session/Session.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/FolderPicker.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Terminate.h"
#include "ui/Widgets.h"

#include <QCloseEvent>
#include <QFile>
#include <QShowEvent>
#include <QTextDocument>

namespace {

const QString WelcomeText = QStringLiteral("Welcome to Larkledger(tm)\n"
                                           "    KVS has detected that you are about\n"
                                           "to use Larkledger for the first time. \n"
                                           "Please give your new account an USER\n"
                                           "NAME and a PASSWORD, you will need\n"
                                           "them in order to log in.\n"
                                           "     *PS. Codes are case sensitive.");

// The data path is kept as bytes; a longer or unrepresentable one would be
// stored as a different path than the one chosen.
bool storablePath(const QString& path)
{
    return path.size() <= static_cast<qsizetype>(MaxDataPath) && isStorableText(path);
}

} // namespace

QString shortenedPath(const QString& path)
{
    if (path.size() > 30)
        return path.left(30) + QStringLiteral("...");
    return path;
}

TNewID_Form::TNewID_Form(Session& session, const QString& workingDir, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint),
      m_session(session), m_workingDir(workingDir), m_ui(new Ui::TNewID_Form)
{
    Q_INIT_RESOURCE(signin);
    m_ui->setupUi(this);
    setFixedSize(351, 221);

    QPalette face = palette();
    face.setColor(QPalette::WindowText, Navy);
    face.setColor(QPalette::ButtonText, Navy);
    face.setColor(QPalette::Text, Navy);
    setPalette(face);

    QPalette memo = m_ui->Info_Memo->palette();
    memo.setColor(QPalette::Base, Silver);
    m_ui->Info_Memo->setPalette(memo);
    m_ui->Info_Memo->viewport()->setCursor(Qt::ArrowCursor);
    // The memo is just tall enough for its seven lines; the default margin
    // would push the last one out of sight.
    m_ui->Info_Memo->document()->setDocumentMargin(1);
    m_ui->Info_Memo->setPlainText(WelcomeText);

    paintPaleEdit(m_ui->ELoginName);
    paintPaleEdit(m_ui->EPersonal_Code);
    restrictToStorable(m_ui->ELoginName);
    restrictToStorable(m_ui->EPersonal_Code);
    m_ui->ELoginName->setMaxLength(static_cast<int>(MaxLoginName));
    m_ui->EPersonal_Code->setMaxLength(static_cast<int>(MaxPassword));

    QPalette link = m_ui->DataPathButton->palette();
    link.setColor(QPalette::ButtonText, Qt::blue);
    m_ui->DataPathButton->setPalette(link);

    connect(m_ui->DataPathButton, &QPushButton::clicked, this, &TNewID_Form::DataPathButtonClick);
    connect(m_ui->Done_Button, &QPushButton::clicked, this, &TNewID_Form::Done_ButtonClick);
    connect(m_ui->Terminate_Button, &QPushButton::clicked, this,
            &TNewID_Form::Terminate_ButtonClick);

    m_ui->Done_Button->setFocus();
}

TNewID_Form::~TNewID_Form()
{
    delete m_ui;
}

void TNewID_Form::reject()
{
    if (FormCloseQuery())
        QDialog::reject();
}

void TNewID_Form::showEvent(QShowEvent* event)
{
    // Decoded at the first show, not at creation: every start creates this
    // dialog, only the first one shows it.
    if (m_ui->NewUser_Image->pixmap().isNull())
        m_ui->NewUser_Image->setPixmap(
            resourcePicture(QStringLiteral(":/signin/images/newuser.png")));
    if (!event->spontaneous())
        placeDialog(this);
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TNewID_Form::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TNewID_Form::FormShow()
{
    setDataPath(m_workingDir);
}

void TNewID_Form::setDataPath(const QString& path)
{
    m_ui->DataPathButton->setText(shortenedPath(path));
    m_ui->DataPathButton->setToolTip(path);
}

void TNewID_Form::DataPathButtonClick()
{
    QString chosen;
    if (ChooseFolder(QStringLiteral("Database Directory"), QString(), chosen))
        setDataPath(chosen);
}

void TNewID_Form::Done_ButtonClick()
{
    const QString typedName = m_ui->ELoginName->text();
    const QString typedPassword = m_ui->EPersonal_Code->text();
    UserData user;
    user.loginName = typedName.toStdString();
    user.password = typedPassword.toStdString();
    // A folder whose name the table cannot hold is no folder for it.
    const QString dataPath = m_ui->DataPathButton->toolTip();
    if (!isBlankText(m_ui->DataPathButton->text().toStdString()) && storablePath(dataPath))
        user.dataPath = dataPath.toStdString();

    // The session checks, stores, writes and reads back the table, removes
    // the marker and signs the new user in; a failed write leaves no user
    // behind, so a second Done cannot store the user twice.
    const ChangeResult result = m_session.createFirstUser(user);
    if (showFailure(result))
        return;
    showWarning(result);

    MessageBox::show(MessageBox::Kind::Confirmation,
                     QStringLiteral("Please write down your new ID and\npassword.\nLogin Name: ") +
                         typedName + QStringLiteral("\nPassword     : ") + typedPassword,
                     MessageBox::Buttons::Ok);

    m_setupDone = true;
    close();
}

void TNewID_Form::Terminate_ButtonClick()
{
    const MessageBox::Button answer = MessageBox::show(
        MessageBox::Kind::Confirmation,
        QStringLiteral("The Larkledger Security Manager will ask you again for the NEW "
                       "ID.\nAre you sure to quit Larkledger?"),
        MessageBox::Buttons::YesNo);
    if (answer == MessageBox::Button::Yes)
        requestTerminate();
}
