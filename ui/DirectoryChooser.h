#pragma once

#include <QString>

#include <functional>
#include <optional>

// The modal directory chooser behind the folder picker; tests script it.
class DirectoryChooser
{
public:
    // The chosen directory, or nothing when the user cancelled.
    static std::optional<QString> ask(const QString& caption, const QString& startDir);

    using Script = std::function<std::optional<QString>(const QString& caption)>;
    static void setScript(Script script); // empty restores the real chooser
};
