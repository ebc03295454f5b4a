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

// The chooser sits over the window the person is working in, so it opens
// centred on it and stays above it. A dialog that is open (the first-use
// dialog) takes precedence over the window behind it. Found without naming
// any window: this layer sits below them all.
QWidget* owner()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

} // namespace

std::optional<QString> DirectoryChooser::ask(const QString& caption, const QString& startDir)
{
    if (activeScript())
        return activeScript()(caption);
    if (terminateRequested())
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
