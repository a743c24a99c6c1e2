// A size in device pixels.
#pragma once

namespace kavlo {

struct PixelSize {
    int width = 0;
    int height = 0;
    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelSize&) const = default;
};

} // namespace kavlo
