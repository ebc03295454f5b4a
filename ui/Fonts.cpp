#include "ui/Fonts.h"

#include <QFont>
#include <QStringList>

void UseFontFallbacks()
{
    const QStringList faces{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};
    QFont::insertSubstitutions(QStringLiteral("Arial"), faces);
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), faces);
}
