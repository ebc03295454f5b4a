#pragma once

#include <QString>

// True only when the user confirmed a folder; path is then that directory,
// otherwise empty.
bool ChooseFolder(const QString& caption, const QString& root, QString& path);
// True when path names an existing directory.
bool FolderExists(const QString& path);
