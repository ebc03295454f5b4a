#include "ScriptedUi.h"

#include "ui/DirectoryChooser.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <memory>

ScriptedUi::ScriptedUi()
{
    resetTerminateRequest();
    MessageBox::setScript([this](const MessageBox::Shown& box) {
        shown.append(box);
        if (m_answers.empty()) {
            const QString problem = QStringLiteral("unexpected message box: ") + box.text;
            m_problems.append(problem);
            QTest::qFail(qPrintable(problem), __FILE__, __LINE__);
            return MessageBox::Button::Cancel;
        }
        const MessageBox::Button answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
    DirectoryChooser::setScript([this](const QString& caption) -> std::optional<QString> {
        folderCaptions.append(caption);
        if (m_folders.empty()) {
            m_problems.append(QStringLiteral("unexpected directory chooser: ") + caption);
            QTest::qFail("unexpected directory chooser", __FILE__, __LINE__);
            return std::nullopt;
        }
        const FolderChoice choice = m_folders.front();
        m_folders.pop_front();
        if (!choice.confirmed)
            return std::nullopt;
        return choice.folder;
    });
}

ScriptedUi::~ScriptedUi()
{
    MessageBox::setScript({});
    DirectoryChooser::setScript({});
    resetTerminateRequest();
}

void ScriptedUi::answer(MessageBox::Button button)
{
    m_answers.push_back(button);
}

void ScriptedUi::chooseFolder(std::optional<QString> folder)
{
    m_folders.push_back({folder.has_value(), folder.value_or(QString())});
}

QString ScriptedUi::problems() const
{
    QStringList all = m_problems;
    if (!m_answers.empty())
        all.append(QStringLiteral("%1 message box answer(s) left unused").arg(m_answers.size()));
    if (!m_folders.empty())
        all.append(QStringLiteral("%1 folder choice(s) left unused").arg(m_folders.size()));
    return all.join(QLatin1Char('\n'));
}

void onNextModal(std::function<void(QDialog*)> action)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(dialog);
    });
    timer->start();
}

int execAtMostTenSeconds(QDialog* dialog)
{
    QTimer::singleShot(10000, dialog, [dialog] {
        if (dialog->isVisible())
            dialog->done(QDialog::Accepted);
    });
    return dialog->exec();
}

void dropPendingDialogDrivers()
{
    for (QTimer* timer : qApp->findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
        delete timer;
}
