#include "DirectoryChooser.h"

#include "Terminate.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

namespace {

DirectoryChooser::Script& activeScript()
{
    static DirectoryChooser::Script script;
    return script;
}

// The chooser belongs to the application's main window, not to the dialog
// that asked, even while the main window is still hidden.
QWidget* owner()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("MainForm"))
            return widget;
    }
    return QApplication::activeWindow();
}

} // namespace

std::optional<QString> DirectoryChooser::ask(const QString& caption, const QString& startDir)
{
    if (activeScript())
        return activeScript()(caption);
    if (TerminateRequested())
        return std::nullopt;
    const QString start = startDir.isEmpty() ? QDir::rootPath() : startDir;
    const QString chosen = QFileDialog::getExistingDirectory(
        owner(), caption, start, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen);
}

void DirectoryChooser::setScript(Script script)
{
    activeScript() = std::move(script);
}
