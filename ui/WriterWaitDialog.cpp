#include "WriterWaitDialog.h"
#include "ui_WriterWaitDialog.h"

#include "AppTitle.h"
#include "Placement.h"
#include "Terminate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QShowEvent>

namespace {

// A wait shorter than this passes as a save without one does: a box that
// flashes up and away would only startle.
constexpr qint64 ShowAfterMs = 250;

} // namespace

WriterWaitDialog::WriterWaitDialog(const QString& text, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::WriterWaitDialog>())
{
    m_ui->setupUi(this);
    setWindowTitle(applicationTitle());
    m_ui->WaitText->setText(text);
}

WriterWaitDialog::~WriterWaitDialog() = default;

void WriterWaitDialog::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        placeDialog(this);
    QDialog::showEvent(event);
}

std::function<bool(Session::WriterWait)> WriterWaitDialog::follower(const QString& text)
{
    struct Wait
    {
        QElapsedTimer since;
        QPointer<WriterWaitDialog> dialog;
        bool following = false;
        bool cancelled = false;
        bool busy = false;
        // Saves started from within the wait (by an event it let through,
        // such as the desktop's logout): each is refused, and this wait's box
        // stays.
        int nested = 0;
    };
    auto wait = std::make_shared<Wait>();
    return [text, wait](Session::WriterWait step) {
        switch (step) {
        case Session::WriterWait::Begins:
            if (wait->following) {
                ++wait->nested;
                return false;
            }
            *wait = Wait();
            wait->following = true;
            wait->since.start();
            break;
        case Session::WriterWait::Goes:
            break;
        case Session::WriterWait::Ends:
            if (wait->nested > 0) {
                --wait->nested;
                return true;
            }
            delete wait->dialog.data();
            if (wait->busy)
                QApplication::restoreOverrideCursor();
            *wait = Wait();
            return true;
        }
        if (!wait->dialog && wait->since.elapsed() >= ShowAfterMs) {
            QApplication::setOverrideCursor(Qt::BusyCursor);
            wait->busy = true;
            wait->dialog = new WriterWaitDialog(text, QApplication::activeWindow());
            QObject::connect(wait->dialog, &QDialog::rejected, [wait] { wait->cancelled = true; });
            wait->dialog->show();
        }
        // Only once the box stands, modal, over the windows: before, a click
        // or a close could start another change in the middle of this one.
        if (wait->dialog)
            QCoreApplication::processEvents();
        return !wait->cancelled && !terminateRequested();
    };
}
