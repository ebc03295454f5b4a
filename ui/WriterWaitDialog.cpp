#include "WriterWaitDialog.h"
#include "ui_WriterWaitDialog.h"

#include "AppTitle.h"
#include "Terminate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>

namespace {

// A wait shorter than this passes under the busy cursor alone: a box that
// flashes up and away would only startle.
constexpr qint64 ShowAfterMs = 250;

} // namespace

WriterWaitDialog::WriterWaitDialog(const QString& text, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::WriterWaitDialog>())
{
    ui->setupUi(this);
    setWindowTitle(ApplicationTitle());
    ui->WaitText->setText(text);
}

WriterWaitDialog::~WriterWaitDialog() = default;

std::function<bool(Session::WriterWait)> WriterWaitDialog::follower(const QString& text)
{
    struct Wait
    {
        QElapsedTimer since;
        QPointer<WriterWaitDialog> dialog;
        bool cancelled = false;
        bool busy = false;
    };
    auto wait = std::make_shared<Wait>();
    return [text, wait](Session::WriterWait step) {
        switch (step) {
        case Session::WriterWait::Begins:
            *wait = Wait();
            wait->since.start();
            QApplication::setOverrideCursor(Qt::BusyCursor);
            wait->busy = true;
            break;
        case Session::WriterWait::Goes:
            break;
        case Session::WriterWait::Ends:
            delete wait->dialog.data();
            if (wait->busy)
                QApplication::restoreOverrideCursor();
            wait->busy = false;
            return true;
        }
        if (!wait->dialog && wait->since.elapsed() >= ShowAfterMs) {
            wait->dialog = new WriterWaitDialog(text, QApplication::activeWindow());
            QObject::connect(wait->dialog, &QDialog::rejected, [wait] { wait->cancelled = true; });
            wait->dialog->show();
        }
        // Until the box stands, modal, over the windows, their buttons must
        // not start another change in the middle of this one: only painting
        // and timers go on.
        QCoreApplication::processEvents(wait->dialog ? QEventLoop::AllEvents
                                                     : QEventLoop::ExcludeUserInputEvents);
        return !wait->cancelled && !TerminateRequested();
    };
}
