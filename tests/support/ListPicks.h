#pragma once

#include <QAccessible>
#include <QApplication>
#include <QKeySequence>
#include <QList>
#include <QListWidget>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>

// The ways a person moves the selected line of a list box, for tests that
// run one test over all of them.

// The centre of a line in the list's viewport.
inline QPoint LineCentre(QListWidget* list, int row)
{
    QListWidgetItem* item = list->item(row);
    if (!item) {
        QTest::qFail(qPrintable(QStringLiteral("no line %1").arg(row)), __FILE__, __LINE__);
        return {};
    }
    list->scrollToItem(item);
    return list->visualItemRect(item).center();
}

// A drag in steps: the left button pressed on a line, moved over others
// while held, let go on a line.
inline void PressOnLine(QListWidget* list, int row)
{
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, LineCentre(list, row));
}

inline void MoveHeldOver(QListWidget* list, int row)
{
    QWidget* viewport = list->viewport();
    const QPoint at = LineCentre(list, row);
    // Built by hand: whether QTest::mouseMove carries the held button
    // differs between Qt versions, and without it nothing is dragged.
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

inline void ReleaseOnLine(QListWidget* list, int row)
{
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, LineCentre(list, row));
}

// Presses on the first of `rows`, moves over the others in turn and lets go
// on the last.
inline void DragAcross(QListWidget* list, const QList<int>& rows)
{
    PressOnLine(list, rows.first());
    for (const int row : rows.mid(1))
        MoveHeldOver(list, row);
    ReleaseOnLine(list, rows.last());
}

// Toggles a line the way a screen reader does, through the line's own
// accessible action.
inline void ToggleByScreenReader(QListWidget* list, int row)
{
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list);
    QAccessibleInterface* line = view ? view->child(row) : nullptr;
    QAccessibleActionInterface* actions = line ? line->actionInterface() : nullptr;
    const QString toggle = QAccessibleActionInterface::toggleAction();
    if (!actions || !actions->actionNames().contains(toggle) ||
        line->text(QAccessible::Name) != list->item(row)->text()) {
        QTest::qFail("no accessible toggle for the line", __FILE__, __LINE__);
        return;
    }
    actions->doAction(toggle);
}

// Does to `list` what `way` names, lines counted from 0:
//   "click 2", "right-click 2", "ctrl-click 2"  a click on line 2
//   "drag 0 1 2"        press on line 0, held over line 1, let go on line 2
//   "key PgDown"        a key as QKeySequence spells it ("Ctrl+Space" too)
//   "type c"            typed text, to jump to the line it begins
//   "reader 2"          a screen reader's toggle of line 2
inline void MoveSelection(QListWidget* list, const QString& way)
{
    const QStringList words = way.split(QLatin1Char(' '));
    const QString how = words.first();
    QList<int> rows;
    for (const QString& word : words.mid(1))
        rows.append(word.toInt());

    QWidget* viewport = list->viewport();
    if (how == QLatin1String("click") || how == QLatin1String("right-click") ||
        how == QLatin1String("ctrl-click")) {
        const Qt::MouseButton button =
            how == QLatin1String("right-click") ? Qt::RightButton : Qt::LeftButton;
        const Qt::KeyboardModifiers modifiers =
            how == QLatin1String("ctrl-click") ? Qt::ControlModifier : Qt::NoModifier;
        QTest::mouseClick(viewport, button, modifiers, LineCentre(list, rows.first()));
    } else if (how == QLatin1String("drag")) {
        DragAcross(list, rows);
    } else if (how == QLatin1String("key")) {
        const QKeyCombination key = QKeySequence::fromString(words.at(1))[0];
        QTest::keyClick(list, key.key(), key.keyboardModifiers());
    } else if (how == QLatin1String("type")) {
        QTest::keyClicks(list, words.at(1));
    } else if (how == QLatin1String("reader")) {
        ToggleByScreenReader(list, rows.first());
    } else {
        QTest::qFail(qPrintable(QStringLiteral("no such way: ") + way), __FILE__, __LINE__);
    }
}

// The texts of the list's selected lines.
inline QStringList SelectedLines(const QListWidget* list)
{
    QStringList lines;
    for (const QListWidgetItem* item : list->selectedItems())
        lines.append(item->text());
    return lines;
}
