#pragma once

#include <QRect>
#include <QSize>

#include <cmath>
#include <optional>

// The window's geometry is given in twips: 1/1440 inch, 15 twips to a device-independent pixel.
// Qt scales device-independent pixels with the screen, so the layout scales the same way.
namespace Quillory::Twips {

constexpr int perPixel = 15;

constexpr int toPixels(double twips)
{
    return static_cast<int>(twips >= 0 ? twips / perPixel + 0.5 : twips / perPixel - 0.5);
}

constexpr QRect toPixels(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

constexpr float fromPixels(int pixels)
{
    return static_cast<float>(pixels) * perPixel;
}

} // namespace Quillory::Twips
