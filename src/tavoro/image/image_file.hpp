// What an image file must be before raylib decodes it: a format this build decodes, told by its
// first bytes (not its name), with a size in its header that the limits allow. raylib's decoders
// allocate what a header asks for, so a few bytes could otherwise ask for gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavoro::image_file {

// The largest image the package makes or loads: a side of 16384 pixels and 2^26 pixels in all
// (256 MiB of RGBA).
inline constexpr long long most_side = 16384;
inline constexpr long long most_pixels = 1LL << 26;

// Whether an image of `width` x `height` is one the limits allow (an empty side counts as fitting:
// callers refuse those on their own terms).
inline bool within_limits(long long width, long long height) {
    return width <= most_side && height <= most_side && width * height <= most_pixels;
}

// Decoded RGBA bytes a file may ask for: any image up to 16 MiB, a larger one only when the file
// is at least 1/1100 of it. No decoder of the build compresses more (deflate's bound is 1032:1,
// a QOI run 248:1), so only a header that lies about its size is refused.
inline constexpr long long small_decode = 16LL << 20;
inline constexpr long long most_ratio = 1100;

struct Header {
    const char* type;  // the extension raylib knows the format by
    long long width, height;
};

inline std::uint32_t big32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline std::uint32_t little32(const unsigned char* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}
inline std::uint32_t little16(const unsigned char* p) { return std::uint32_t{p[1]} << 8 | p[0]; }

inline bool starts(const unsigned char* data, std::size_t size, const char* magic, std::size_t length) {
    if (size < length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (data[i] != static_cast<unsigned char>(magic[i])) return false;
    return true;
}

// The format and size the header gives, false when it is none of the build's formats.
inline bool read_header(const unsigned char* data, std::size_t size, Header& out) {
    if (size >= 24 && starts(data, size, "\x89PNG\r\n\x1a\n", 8) && starts(data + 12, size - 12, "IHDR", 4)) {
        out = {".png", big32(data + 16), big32(data + 20)};
        return true;
    }
    if (size >= 14 && starts(data, size, "qoif", 4)) {
        out = {".qoi", big32(data + 4), big32(data + 8)};
        return true;
    }
    if (size >= 13 && (starts(data, size, "GIF87a", 6) || starts(data, size, "GIF89a", 6))) {
        out = {".gif", little16(data + 6), little16(data + 8)};
        return true;
    }
    if (size >= 26 && starts(data, size, "BM", 2)) {
        // The old OS/2 header holds 16-bit sizes; the others 32-bit ones, a negative height
        // meaning rows top first.
        if (little32(data + 14) == 12) {
            out = {".bmp", little16(data + 18), little16(data + 20)};
        } else {
            long long height = static_cast<std::int32_t>(little32(data + 22));
            out = {".bmp", static_cast<std::int32_t>(little32(data + 18)), height < 0 ? -height : height};
        }
        return true;
    }
    return false;
}

// Whether the file's header is one raylib may decode.
inline bool decodable(const unsigned char* data, std::size_t size, Header& header) {
    if (!read_header(data, size, header)) return false;
    long long w = header.width, h = header.height;
    if (w <= 0 || h <= 0 || !within_limits(w, h)) return false;
    long long decoded = 4 * w * h;
    return decoded <= small_decode || decoded / most_ratio <= static_cast<long long>(size);
}

}  // namespace tavoro::image_file
