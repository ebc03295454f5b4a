#include "Placement.h"

#include <QApplication>
#include <QMargins>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

QMargins frameMargins(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

// The frame the window manager puts around `dialog`. Before the dialog is
// mapped for the first time it has none yet, so the frame of a window that
// is on the screen stands in for it; a window without a border gets none.
QMargins expectedFrame(const QWidget* dialog)
{
    if (dialog->windowFlags().testFlag(Qt::FramelessWindowHint))
        return {};
    QMargins margins = frameMargins(dialog);
    if (!margins.isNull())
        return margins;
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window == dialog || !window->isVisible())
            continue;
        margins = frameMargins(window);
        if (!margins.isNull())
            return margins;
    }
    return margins;
}

// The window the dialog belongs to: found without naming any window, as
// this layer sits below them all.
const QWidget* ownerOf(const QWidget* dialog)
{
    if (const QWidget* parent = dialog->parentWidget())
        return parent->window();
    for (const QWidget* candidate :
         {QApplication::activeModalWidget(), QApplication::activeWindow()}) {
        if (candidate && candidate != dialog && candidate->isVisible())
            return candidate;
    }
    return nullptr;
}

// One axis: from `start`, moved only as far as needed to lie within
// [low, high); a frame longer than the range keeps its start at `low`.
int within(int start, int length, int low, int high)
{
    return std::max(low, std::min(start, high - length));
}

} // namespace

void placeDialog(QWidget* dialog, std::optional<QPoint> designed)
{
    const QSize frameSize = dialog->size().grownBy(expectedFrame(dialog));
    if (designed) {
        const QScreen* there = QGuiApplication::screenAt(*designed);
        if (there && there->availableGeometry().contains(QRect(*designed, frameSize))) {
            dialog->move(*designed);
            return;
        }
    }

    const QWidget* owner = ownerOf(dialog);
    const QScreen* screen = owner ? owner->screen() : nullptr;
    if (!screen && designed)
        screen = QGuiApplication::screenAt(*designed);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();

    QRect frame(QPoint(), frameSize);
    frame.moveCenter(owner ? owner->frameGeometry().center() : area.center());
    const int left = within(frame.left(), frame.width(), area.left(), area.left() + area.width());
    const int top = within(frame.top(), frame.height(), area.top(), area.top() + area.height());
    dialog->move(left, top);
}
