#pragma once

#include <QImage>
#include <QString>

// Decodes a JPEG file with libjpeg into an RGB image. A missing, truncated or
// malformed file gives a null image; libjpeg's errors never leave this function.
QImage LoadJpeg(const QString& path);
