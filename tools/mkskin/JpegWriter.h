#pragma once

#include <QImage>
#include <QString>

// Writes an image as a baseline JPEG file through libjpeg. False when the file can't
// be written.
bool writeJpeg(const QImage& image, const QString& path, int quality);
