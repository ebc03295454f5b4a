#pragma once

#include "session/Session.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class WriterWaitDialog;
}

// The small box that stands over the windows while a save waits for another
// writer's lock: what it waits for, a running bar and Cancel, which ends the
// wait with nothing written.
class WriterWaitDialog : public QDialog
{
    Q_OBJECT

public:
    explicit WriterWaitDialog(const QString& text, QWidget* parent = nullptr);
    ~WriterWaitDialog() override;

    // What a session's wait for the writer lock calls (Session::setWriterWait):
    // once the wait lasts long enough to be seen, this box with `text`, modal,
    // and a busy cursor, the windows kept painted meanwhile; no more waiting
    // once Cancel was pressed or the program is asked to end.
    static std::function<bool(Session::WriterWait)> follower(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::WriterWaitDialog> m_ui;
};
