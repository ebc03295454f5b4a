#pragma once

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringList>
#include <QWidget>

// The name a screen reader announces for a control.
inline QString announcedName(QWidget* widget)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

// The widget that Tab moves to from `from`.
inline QWidget* nextTabStop(QWidget* from)
{
    QWidget* w = from->nextInFocusChain();
    while (w != from && !(w->focusPolicy() & Qt::TabFocus))
        w = w->nextInFocusChain();
    return w;
}

// The edit boxes, combo boxes, lists and editable memos under `root` that a
// screen reader would announce without a name, by objectName.
inline QStringList unnamedEntries(QWidget* root)
{
    QStringList unnamed;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const auto* memo = qobject_cast<QPlainTextEdit*>(w);
        const bool entry = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                           qobject_cast<QAbstractItemView*>(w) || (memo && !memo->isReadOnly());
        bool partOfCombo = false; // its line edit or drop-down list
        for (QWidget* p = w->parentWidget(); p && !partOfCombo; p = p->parentWidget())
            partOfCombo = qobject_cast<QComboBox*>(p) != nullptr;
        if (entry && !partOfCombo && announcedName(w).isEmpty())
            unnamed.append(w->objectName());
    }
    return unnamed;
}
