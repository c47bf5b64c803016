// raylib's plain records, as the modules hold them by value and pass them between each other.
// Modules that do not link raylib use these; the audio modules use raylib's own header, whose
// records have the same layout.
#pragma once

#include <cstdint>

namespace tavoro::rl {

struct Vector2 { float x, y; };
struct Vector3 { float x, y, z; };
struct Vector4 { float x, y, z, w; };
struct Rectangle { float x, y, width, height; };
struct Color { std::uint8_t r, g, b, a; };

struct Image {
    void* data;
    int width;
    int height;
    int mipmaps;
    int format;
};

struct GlyphInfo {
    int value;
    int offsetX;
    int offsetY;
    int advanceX;
    Image image;
};

}  // namespace tavoro::rl
