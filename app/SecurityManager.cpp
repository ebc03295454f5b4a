#include "SecurityManager.h"

#include "accounts/BankAccountPage.h"
#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "admin/TableWatcher.h"
#include "audit/SystemLog.h"
#include "signin/NewID_Form.h"
#include "signin/PassWords.h"
#include "ui/CodePage.h"
#include "ui/ErrorReport.h"
#include "ui/MessageBox.h"
#include "ui/Terminate.h"
#include "ui/WriterWaitDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSessionManager>
#include <QToolTip>

namespace {

// Anything at all of that name, a dangling link included: only where there
// is nothing may a new table be made. Whatever stands there and is not a
// table (a folder, a FIFO, a link to nowhere) is refused by the load.
bool anythingAt(const QString& dir, const QString& name)
{
    const QFileInfo info(QDir(dir).filePath(name));
    return info.exists() || info.isSymLink();
}

ConflictChoice askAboutChangeOnDisk(const Conflict& conflict)
{
    switch (MessageBox::show(MessageBox::Kind::Warning,
                             QString::fromStdString(conflictQuestion(conflict)),
                             MessageBox::Buttons::YesNoCancel)) {
    case MessageBox::Button::Yes:
        return ConflictChoice::Reload;
    case MessageBox::Button::No:
        return ConflictChoice::Overwrite;
    default:
        return ConflictChoice::Cancel;
    }
}

} // namespace

SecurityManager::SecurityManager(const QString& workingDir, AuditSink* audit)
    : m_workingDir(workingDir),
      m_session(QDir(workingDir).filePath(QString::fromUtf8(Session::TableFileName)).toStdString(),
                audit)
{
    // A save nobody may be asked about writes nothing over someone else's
    // change rather than choose for them.
    m_session.setConflictHandler([this](const Conflict& conflict) {
        return m_unattended ? ConflictChoice::Cancel : askAboutChangeOnDisk(conflict);
    });
    m_session.setSystemUser(currentSystemUser());
    // Every save of every window waits alike: painted, saying so, and with
    // a way out that writes nothing.
    m_session.setWriterWait(
        Session::DefaultWriterWait,
        WriterWaitDialog::follower(QString::fromStdString(m_session.writerWaitText())));
}

void SecurityManager::start()
{
    FormCreate();
}

SecurityManager::~SecurityManager() = default;

void SecurityManager::FormCreate()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::All, QPalette::ToolTipBase, QColor(0, 255, 255));
    QApplication::setPalette(palette);
    // Tool tips keep a palette of their own.
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::All, QPalette::ToolTipBase, QColor(0, 255, 255));
    QToolTip::setPalette(tips);

    m_passWords = std::make_unique<TPassWords>(m_session);
    lockTable();

    const QString tableName = QString::fromUtf8(Session::TableFileName);
    if (Session::firstUseDue(m_workingDir.toStdString())) {
        // The dialog stores, saves and reads back the table and signs its
        // user in; the window keeps its designed caption and states. Made
        // only here: its memo's text layout and bold face would cost every
        // start with a table 4 million instructions and 1.5 MB of memory
        // before the login dialog appears.
        m_newID = std::make_unique<TNewID_Form>(m_session, m_workingDir);
        execModal(*m_newID);
        m_passWords->setLoginState(1);
        createMainForm();
    } else {
        const ChangeResult loaded =
            anythingAt(m_workingDir, tableName) ? m_session.loadTable() : m_session.createTable();
        if (showFailure(loaded)) {
            // Nobody can sign in against a table that cannot be read, and
            // the window must not open without a signed-in user.
            createMainForm();
            requestTerminate();
            return;
        }
        LoginUser();
    }

    m_mainForm->UpdateUserNameList();
    m_mainForm->disableSaveChangeButton();
}

void SecurityManager::lockTable()
{
    const std::optional<Session::OtherCopy> other = m_session.markRunningCopy();
    if (!other)
        return;
    // Filled in one pass, so that a "%1" in the host the lock file gives
    // stays as written.
    const QString holder = other->pid == 0 ? QString()
                                           : QStringLiteral(" (process %1 on %2)")
                                                 .arg(QString::number(other->pid),
                                                      QString::fromStdString(other->host));
    // Both copies may go on: saves take turns, and each lands on the file
    // as the other left it.
    MessageBox::show(MessageBox::Kind::Warning,
                     QStringLiteral("Another copy of the Security Manager") + holder +
                         QStringLiteral(" has ") + QString::fromUtf8(Session::TableFileName) +
                         QStringLiteral(" open.\nYou can go on: saves take "
                                        "turns, each change is made on the file as the other "
                                        "copy left it, and you are asked only when both change "
                                        "the same user or bank account."),
                     MessageBox::Buttons::Ok);
}

void SecurityManager::LoginUser()
{
    execModal(*m_passWords);
    // Built once the sign-in dialog has closed: nobody sees the window
    // before, and building it first would keep the person waiting.
    createMainForm();
    if (m_passWords->LoginState() != 1 || !m_session.signedIn()) {
        MessageBox::show(MessageBox::Kind::Error,
                         QStringLiteral("KVS Internal error PPP[0000:0001]"),
                         MessageBox::Buttons::Ok);
        requestTerminate();
        return;
    }
    m_mainForm->applyRights();
}

void SecurityManager::createMainForm()
{
    m_newAcco = std::make_unique<TNewAccoForm>();
    m_mainForm = std::make_unique<TMainForm>(m_session);
    TMainForm* mainForm = m_mainForm.get();
    m_bankPage = new TBankAccountPage(m_session, *m_newAcco,
                                      [mainForm] { return mainForm->selectedUserName(); });
    mainForm->setBankAccountPage(m_bankPage);
    QObject::connect(mainForm, &TMainForm::userPicked, m_bankPage,
                     &TBankAccountPage::showAccountsOf);
    QObject::connect(m_bankPage, &TBankAccountPage::tableReloaded, mainForm,
                     &TMainForm::showTableAgain);
    QObject::connect(m_bankPage, &TBankAccountPage::rightsMayHaveChanged, mainForm,
                     &TMainForm::applyRights);
    m_watcher = std::make_unique<TableWatcher>(QString::fromStdString(m_session.tablePath()));
    mainForm->followTable(*m_watcher);
    watchLogout();
}

void SecurityManager::watchLogout()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    QObject::connect(app, &QGuiApplication::commitDataRequest, m_mainForm.get(),
                     [this](QSessionManager& manager) {
                         // Interaction is asked for only when there is
                         // something to ask about: it holds up the logout.
                         if (!m_session.TableChanged())
                             return;
                         const bool mayAsk = manager.allowsInteraction();
                         if (!logoutQuery(mayAsk))
                             manager.cancel();
                         if (mayAsk)
                             manager.release();
                     });
}

bool SecurityManager::logoutQuery(bool mayAsk)
{
    if (!m_session.TableChanged() || m_session.signedOut() || !m_mainForm ||
        !m_mainForm->isVisible())
        return true;
    if (mayAsk)
        return m_mainForm->FormCloseQuery();
    // Nobody may be asked. Each waiting Add and Delete was asked for, and
    // shown done; dropping them unasked would leave a deleted user able to
    // sign in, and keeping them for later would put every password in a
    // second file. So they are saved as the close's Yes saves them. Where
    // that writes nothing (a clash, a fault, another writer's lock), the
    // desktop is asked to stay, the window keeping the changes.
    m_unattended = true;
    const ChangeResult result = m_session.save();
    m_unattended = false;
    return result.done();
}
