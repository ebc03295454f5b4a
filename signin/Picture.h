#pragma once

#include <QImageReader>
#include <QPixmap>
#include <QString>

// One of the program's PNG pictures. Naming the format and turning off
// detection keeps Qt from loading every image format plugin to ask it first.
inline QPixmap resourcePicture(const QString& path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}
