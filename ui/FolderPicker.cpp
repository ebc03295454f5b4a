#include "FolderPicker.h"

#include "CodePage.h"
#include "DirectoryChooser.h"

#include <QDir>
#include <QFileInfo>

namespace {
// The longest path the stored data path was ever given (260 with its
// terminator).
constexpr qsizetype MaxPathLength = 259;
} // namespace

bool ChooseFolder(const QString& caption, const QString& root, QString& path)
{
    path.clear();
    const std::optional<QString> chosen =
        DirectoryChooser::ask(caption, root.isEmpty() ? QDir::rootPath() : root);
    if (!chosen || chosen->isEmpty())
        return false;
    // A path the store could not hold unchanged is as good as no choice.
    if (chosen->size() > MaxPathLength || !isStorableText(*chosen) || !FolderExists(*chosen))
        return false;
    path = *chosen;
    return true;
}

bool FolderExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}
