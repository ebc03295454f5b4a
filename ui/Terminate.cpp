#include "Terminate.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>

namespace {
bool requested = false;
}

void requestTerminate()
{
    requested = true;
    // done() rather than reject() or close(): the sign-in dialogs refuse
    // those until someone has signed in, but a terminate request overrides.
    QList<QPointer<QDialog>> running;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible())
            running.append(dialog);
    }
    for (const QPointer<QDialog>& dialog : running) {
        if (dialog)
            dialog->done(QDialog::Rejected);
    }
    QCoreApplication::quit();
}

bool terminateRequested()
{
    return requested;
}

void resetTerminateRequest()
{
    requested = false;
}

int execModal(QDialog& dialog)
{
    if (requested)
        return QDialog::Rejected;
    return dialog.exec();
}
