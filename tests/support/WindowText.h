#pragma once

#include "ui/MessageBox.h"

#include <QList>
#include <QListWidget>
#include <QString>
#include <QStringList>

// What the windows show, as text a test compares in one go.

// A message box as "Kind Buttons: text", e.g. "Warning Ok: Select an user
// first please.".
inline QString rendered(const MessageBox::Shown& box)
{
    static const char* kinds[] = {"Warning", "Error", "Information", "Confirmation"};
    static const char* buttons[] = {"Ok", "YesNo", "YesNoCancel"};
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(kinds[int(box.kind)]), QLatin1String(buttons[int(box.buttons)]),
             box.text);
}

inline QStringList rendered(const QList<MessageBox::Shown>& boxes)
{
    QStringList result;
    for (const MessageBox::Shown& box : boxes)
        result.append(rendered(box));
    return result;
}

// The lines of a list box, top to bottom.
inline QStringList listLines(const QListWidget* list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result.append(list->item(i)->text());
    return result;
}
