#pragma once

#include <QColor>
#include <QString>

#include <optional>

class QListWidget;
class QWidget;

// Colours the windows share.
inline const QColor Navy(0, 0, 128);
inline const QColor Silver(192, 192, 192);
inline const QColor PaleFill(231, 240, 191);

void centreOnScreen(QWidget* window);
// The sign-in dialogs' edits: pale fill, navy text.
void paintPaleEdit(QWidget* edit);

// The text of the list's selected line; nothing when no line is selected.
std::optional<QString> selectedLineText(const QListWidget* list);
// Appends a line of the windows' list-box item height.
void appendListLine(QListWidget* list, const QString& text);
