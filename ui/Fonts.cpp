#include "ui/Fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

void useFontFallbacks()
{
    const QStringList faces{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};
    QFont::insertSubstitutions(QStringLiteral("Arial"), faces);
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), faces);
    // The message boxes and pickers take the dialogs' face and size, as on
    // the Windows the windows were drawn for. It also spares the start-up a
    // face nobody sees: a line edit lays out its empty text in the default
    // font before it takes its own, which loaded a second face and asked
    // fontconfig for its fallbacks, about 3 million instructions.
    QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
}
