#include "Widgets.h"

#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void paintPaleEdit(QWidget* edit)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, PaleFill);
    palette.setColor(QPalette::Text, Navy);
    edit->setPalette(palette);
}

std::optional<QString> selectedLineText(const QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first()->text();
}

void appendListLine(QListWidget* list, const QString& text)
{
    constexpr int ItemHeight = 15;
    auto* item = new QListWidgetItem(text, list);
    item->setSizeHint(QSize(0, ItemHeight));
}
