// Shared pieces of the LED widgets: the notify event type and 32-bit images
// over recoloured glyph pixels.
#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <vector>

class QObject;

// A notify event: called with the sender, only when assigned.
using TMMLEDNotifyEvent = std::function<void(QObject* Sender)>;

// A read-only image over opaque 0xAARRGGBB pixels; the pixels must outlive it.
inline QImage LEDPixelImage(const std::vector<uint32_t>& pixels, int width, int height)
{
    if (width <= 0 || height <= 0 || pixels.size() < size_t(width) * size_t(height)) return QImage();
    return QImage(reinterpret_cast<const uchar*>(pixels.data()), width, height, width * 4,
                  QImage::Format_RGB32);
}
