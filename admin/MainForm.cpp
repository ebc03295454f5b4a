// The generated code names a parameter after the window; it comes before
// the global of that name so the two do not shadow each other.
#include "ui_MainForm.h"

#include "MainForm.h"

#include "signin/NewID_Form.h"
#include "signin/PassWords.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "ui/CodePage.h"

#include <QGuiApplication>
#include <QIcon>
#include <QListWidgetItem>
#include <QScreen>

TMainForm* MainForm = nullptr;
bool TableChanged = false;
AccountArea ShownAccounts{};

namespace {

// The height of one line in the window's list boxes.
constexpr int ListItemHeight = 15;

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent), ui(new Ui::TMainForm)
{
    Q_INIT_RESOURCE(admin);
    ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(476, 320);
    setWindowIcon(QIcon(QStringLiteral(":/admin/icons/padlock-keys.png")));

    QIcon browse(QStringLiteral(":/admin/icons/browse.png"));
    browse.addFile(QStringLiteral(":/admin/icons/browse-disabled.png"), QSize(16, 16),
                   QIcon::Disabled);
    ui->BrowseBtn->setIcon(browse);

    // A read-only memo that only shows text: no text cursor over it.
    ui->DescriptionLabel->viewport()->setCursor(Qt::ArrowCursor);

    RestrictToAnsi(ui->NameEdit);
    RestrictToAnsi(ui->PPEdit);
    RestrictToAnsi(ui->DPEdit);

    centreOnScreen(this);

    MainForm = this;
    ShownAccounts = AccountArea{};

    bindSession();
    bindUserPages();
    bindAccountPage();

    FormCreate();
}

TMainForm::~TMainForm()
{
    delete NewID_Form;
    NewID_Form = nullptr;
    delete PassWords;
    PassWords = nullptr;
    delete ui;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::UpdateUserNameList()
{
    ui->UserNames->clear();
    const int firstFree = FirstFreeSlot();
    // Users behind a free slot stay unlisted until an add fills that slot.
    const int last = firstFree < 0 ? SlotCount : firstFree - 1;
    for (int n = 1; n <= last; ++n) {
        const AnsiString name = Decoded(Slot(n).LoginName);
        if (TrimControls(name).empty())
            continue;
        auto* item = new QListWidgetItem(FromAnsi(name), ui->UserNames);
        item->setSizeHint(QSize(0, ListItemHeight));
    }
    ui->UserNames->setCurrentRow(-1);
    ui->UserNames->update();
}

// ---------------------------------------------------------------------------
// User pages: the user list, "User Details", "User Editor" and the user
// buttons.
// ---------------------------------------------------------------------------

void TMainForm::bindUserPages() {}

void TMainForm::UserNamesClick() {}

void TMainForm::ShowUserInfo(const UserRecord&) {}

void TMainForm::fillActionSheet(const UserRecord&) {}

void TMainForm::clearActionSheet() {}

void TMainForm::AddButtonClick() {}

void TMainForm::DeleteButtonClick() {}

void TMainForm::ModifyButtonClick() {}

void TMainForm::SaveChangeButtonClick() {}

void TMainForm::NameEditChange() {}

void TMainForm::BrowseBtnClick() {}
