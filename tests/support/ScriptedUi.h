#pragma once

#include "ui/MessageBox.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class QDialog;

// Answers message boxes and the directory chooser from queues set in
// advance, and records every box shown. Create one per test (init) and check
// problems() is empty at its end (cleanup): a box with no queued answer, or
// an answer left unused, fails the test.
class ScriptedUi
{
public:
    ScriptedUi();
    ~ScriptedUi();
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    void answer(MessageBox::Button button);
    // A confirmed folder, or std::nullopt for Cancel.
    void chooseFolder(std::optional<QString> folder);

    QList<MessageBox::Shown> shown;
    QStringList folderCaptions;

    // Empty when every box had an answer and every answer was used.
    QString problems() const;

private:
    std::deque<MessageBox::Button> m_answers;
    struct FolderChoice
    {
        bool confirmed;
        QString folder;
    };
    std::deque<FolderChoice> m_folders;
    QStringList m_problems;
};

// Runs action on the next modal dialog that becomes visible (polled from
// the event loop), so a test can drive a dialog that a handler exec()s.
void onNextModal(std::function<void(QDialog*)> action);

// Runs dialog->exec(); should the run not end within ten seconds, the dialog
// is ended as Accepted, so a fault fails the test instead of hanging it.
int execAtMostTenSeconds(QDialog* dialog);

// Drops the drivers set up with onNextModal that are still waiting: one whose
// dialog never came would act on the next test's dialog.
void dropPendingDialogDrivers();
