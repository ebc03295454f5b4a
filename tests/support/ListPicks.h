#pragma once

#include <QAccessible>
#include <QApplication>
#include <QKeySequence>
#include <QList>
#include <QListWidget>
#include <QMetaType>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>

// The ways a person moves the selected line of a list box, for tests that
// run one test over all of them.

// The centre of a line in the list's viewport.
inline QPoint lineCentre(QListWidget* list, int row)
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
inline void pressOnLine(QListWidget* list, int row)
{
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, lineCentre(list, row));
}

inline void moveHeldOver(QListWidget* list, int row)
{
    QWidget* viewport = list->viewport();
    const QPoint at = lineCentre(list, row);
    // Built by hand: whether QTest::mouseMove carries the held button
    // differs between Qt versions, and without it nothing is dragged.
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

inline void releaseOnLine(QListWidget* list, int row)
{
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, lineCentre(list, row));
}

// Presses on the first of `rows`, moves over the others in turn and lets go
// on the last.
inline void dragAcross(QListWidget* list, const QList<int>& rows)
{
    pressOnLine(list, rows.first());
    for (const int row : rows.mid(1))
        moveHeldOver(list, row);
    releaseOnLine(list, rows.last());
}

// Toggles a line the way a screen reader does, through the line's own
// accessible action.
inline void toggleByScreenReader(QListWidget* list, int row)
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

// One way a person moves the selected line of a list, lines counted from 0.
struct ListMove
{
    enum class Kind
    {
        Click,       // on rows[0], with `button` and `modifiers`
        Drag,        // pressed on the first of `rows`, held over the others,
                     // let go on the last
        Key,         // `key`
        Type,        // `text` typed, to jump to the line it begins
        ScreenReader // the line rows[0] toggled by its accessible action
    };
    Kind kind = Kind::Click;
    QList<int> rows;
    Qt::MouseButton button = Qt::LeftButton;
    Qt::KeyboardModifiers modifiers;
    QKeyCombination key;
    QString text;
};
Q_DECLARE_METATYPE(ListMove)

inline ListMove click(int row, Qt::MouseButton button = Qt::LeftButton,
                      Qt::KeyboardModifiers modifiers = {})
{
    ListMove move;
    move.rows = {row};
    move.button = button;
    move.modifiers = modifiers;
    return move;
}

inline ListMove drag(const QList<int>& rows)
{
    ListMove move;
    move.kind = ListMove::Kind::Drag;
    move.rows = rows;
    return move;
}

inline ListMove key(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    ListMove move;
    move.kind = ListMove::Kind::Key;
    move.key = QKeyCombination(modifiers, key);
    return move;
}

inline ListMove type(const QString& text)
{
    ListMove move;
    move.kind = ListMove::Kind::Type;
    move.text = text;
    return move;
}

inline ListMove screenReader(int row)
{
    ListMove move;
    move.kind = ListMove::Kind::ScreenReader;
    move.rows = {row};
    return move;
}

// Does to `list` what `move` describes.
inline void moveSelection(QListWidget* list, const ListMove& move)
{
    switch (move.kind) {
    case ListMove::Kind::Click:
        QTest::mouseClick(list->viewport(), move.button, move.modifiers,
                          lineCentre(list, move.rows.first()));
        return;
    case ListMove::Kind::Drag:
        dragAcross(list, move.rows);
        return;
    case ListMove::Kind::Key:
        QTest::keyClick(list, move.key.key(), move.key.keyboardModifiers());
        return;
    case ListMove::Kind::Type:
        QTest::keyClicks(list, move.text);
        return;
    case ListMove::Kind::ScreenReader:
        toggleByScreenReader(list, move.rows.first());
        return;
    }
}

// The texts of the list's selected lines.
inline QStringList selectedLines(const QListWidget* list)
{
    QStringList lines;
    for (const QListWidgetItem* item : list->selectedItems())
        lines.append(item->text());
    return lines;
}
