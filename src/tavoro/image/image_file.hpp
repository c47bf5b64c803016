// What an image file must be before raylib decodes it: a format this build decodes, told by its
// first bytes (not its name; TGA, which has no magic, by a name ending in .tga), with a size in its header that the limits allow. raylib's decoders
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
inline std::uint32_t big16(const unsigned char* p) { return std::uint32_t{p[0]} << 8 | p[1]; }

inline bool starts(const unsigned char* data, std::size_t size, const char* magic, std::size_t length) {
    if (size < length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (data[i] != static_cast<unsigned char>(magic[i])) return false;
    return true;
}

// A JPEG's size, from its first frame header: the segments before it are stepped over by their
// lengths (the markers that stand alone have none).
inline bool jpeg_size(const unsigned char* data, std::size_t size, Header& out) {
    for (std::size_t at = 2; at + 4 <= size;) {
        if (data[at] != 0xFF) return false;
        unsigned marker = data[at + 1];
        if (marker == 0xFF) {  // fill bytes before a marker
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 9 > size) return false;
            out = {".jpg", big16(data + at + 7), big16(data + at + 5)};
            return true;
        }
        std::size_t length = big16(data + at + 2);
        if (length < 2) return false;
        at += 2 + length;
    }
    return false;
}

// A TGA header, which has no magic: its colour-map kind, image kind and depth must be ones TGA
// defines.
inline bool tga_size(const unsigned char* data, std::size_t size, Header& out) {
    if (size < 18 || data[1] > 1) return false;
    unsigned kind = data[2] & ~8u, depth = data[16];
    if (kind < 1 || kind > 3 || (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)) return false;
    out = {".tga", little16(data + 12), little16(data + 14)};
    return true;
}

// The format and size the header gives, false when it is none of the build's formats; a TGA
// only when the file is named one (`tga`), as nothing in its bytes says so.
inline bool read_header(const unsigned char* data, std::size_t size, Header& out, bool tga = false) {
    if (starts(data, size, "\xFF\xD8\xFF", 3)) return jpeg_size(data, size, out);
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
    return tga && tga_size(data, size, out);
}

// The frames of a GIF, counted by walking its blocks as its decoder does; -1 when a block is cut
// short or unknown. Its decoder makes a whole frame of the screen's size for each.
inline long long gif_frames(const unsigned char* data, std::size_t size) {
    auto skip_sub_blocks = [&](std::size_t at) {
        while (at < size && data[at]) at += 1 + std::size_t{data[at]};
        return at < size ? at + 1 : 0;
    };
    std::size_t at = 13 + (data[10] & 0x80 ? 3u << ((data[10] & 7) + 1) : 0);
    long long frames = 0;
    while (at < size) {
        if (data[at] == 0x3B) return frames;
        if (data[at] == 0x21 && at + 2 < size) {
            at = skip_sub_blocks(at + 2);
        } else if (data[at] == 0x2C && at + 10 < size) {
            unsigned flags = data[at + 9];
            at += 10 + (flags & 0x80 ? 3u << ((flags & 7) + 1) : 0) + 1;  // the code size byte
            at = at < size ? skip_sub_blocks(at) : 0;
            ++frames;
        } else {
            return -1;
        }
        if (!at) return -1;
    }
    return frames;  // no trailer: the decoder stops at the end too
}

// Whether the file's header is one raylib may decode.
inline bool decodable(const unsigned char* data, std::size_t size, Header& header, bool tga = false) {
    if (!read_header(data, size, header, tga)) return false;
    long long w = header.width, h = header.height;
    if (w <= 0 || h <= 0 || !within_limits(w, h)) return false;
    long long decoded = 4 * w * h;
    return decoded <= small_decode || decoded / most_ratio <= static_cast<long long>(size);
}

}  // namespace tavoro::image_file
