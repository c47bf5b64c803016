// Glyphs from a BDF file (text: a header, then per glyph its code point, box, advance and rows of
// hex bitmap). raylib's own BDF reader loses its glyph array at the first bitmap and writes
// through a null pointer, so the package reads BDF itself, every number bounded before use.
#pragma once

#include "font_glyphs.hpp"

#include <charconv>
#include <string_view>
#include <vector>

namespace tavoro::bdf {

using glyphs::most_offset, glyphs::most_pixels, glyphs::most_side;

struct Font {
    ::GlyphInfo* glyphs = nullptr;  // malloc'd, as raylib's UnloadFontData frees them
    int count = 0;
    int size = 0;                   // the line's height in pixels
};

namespace detail {

struct Lines {
    std::string_view rest;
    bool next(std::string_view& line) {
        if (rest.empty()) return false;
        std::size_t end = rest.find('\n');
        line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }
};

// The integers after the line's keyword; false when there are fewer than `n` or one is outside
// ±`bound`.
bool numbers(std::string_view line, int* out, int n, int bound) {
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    const char* at = line.data() + space;
    const char* end = line.data() + line.size();
    for (int i = 0; i < n; ++i) {
        while (at < end && *at == ' ') ++at;
        auto [next, error] = std::from_chars(at, end, out[i]);
        if (error != std::errc{} || out[i] < -bound || out[i] > bound) return false;
        at = next;
    }
    return true;
}

std::string_view keyword(std::string_view line) { return line.substr(0, line.find(' ')); }

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One bitmap row into `w` grey pixels; false unless it has the row's hex digits.
bool row(std::string_view line, unsigned char* pixels, int w) {
    std::size_t digits = (static_cast<std::size_t>(w) + 7) / 8 * 2;
    if (line.size() < digits) return false;
    for (int x = 0; x < w; ++x) {
        int nibble = hex(line[static_cast<std::size_t>(x / 4)]);
        if (nibble < 0) return false;
        if (nibble & (8 >> (x % 4))) pixels[x] = 255;
    }
    return true;
}

}  // namespace detail

// The glyphs of `wanted` that the file has, each once; an empty font when the file is not BDF,
// is malformed anywhere, or has none of them.
inline Font read(std::string_view text, const std::vector<int>& wanted) {
    using namespace detail;
    Lines lines{text};
    std::string_view line;
    if (!lines.next(line) || keyword(line) != "STARTFONT") return {};
    int box[4] = {}, ascent = 0, descent = 0, pixel_size = 0;
    bool have_box = false, have_ascent = false, have_descent = false;
    std::vector<::GlyphInfo> kept;
    long long pixels = 0;
    auto fail = [&] { glyphs::release(kept); return Font{}; };
    while (lines.next(line)) {
        std::string_view key = keyword(line);
        if (key == "FONTBOUNDINGBOX") {
            if (!numbers(line, box, 4, most_offset)) return fail();
            have_box = true;
        } else if (key == "FONT_ASCENT") {
            if (!numbers(line, &ascent, 1, most_offset)) return fail();
            have_ascent = true;
        } else if (key == "FONT_DESCENT") {
            if (!numbers(line, &descent, 1, most_offset)) return fail();
            have_descent = true;
        } else if (key == "PIXEL_SIZE") {
            if (!numbers(line, &pixel_size, 1, most_offset)) return fail();
        } else if (key == "ENDFONT") {
            break;
        } else if (key == "STARTCHAR") {
            if (!have_box) return fail();
            if (!have_ascent) ascent = box[1] + box[3];
            int encoding = -1, bbx[4] = {box[0], box[1], box[2], box[3]}, advance[2] = {box[0], 0};
            for (;;) {
                if (!lines.next(line)) return fail();
                key = keyword(line);
                if (key == "ENCODING" && !numbers(line, &encoding, 1, 0x7FFFFFFF)) return fail();
                if (key == "DWIDTH" && !numbers(line, advance, 2, most_offset)) return fail();
                if (key == "BBX" && !numbers(line, bbx, 4, most_offset)) return fail();
                if (key == "BITMAP") break;
                if (key == "ENDCHAR") return fail();
            }
            int w = bbx[0], h = bbx[1];
            if (w < 0 || h < 0 || w > most_side || h > most_side) return fail();
            bool keep = glyphs::wanted(wanted, kept, encoding);
            pixels += keep ? static_cast<long long>(w) * h : 0;
            if (pixels > most_pixels || (keep && !glyphs::add(kept, encoding, bbx[2], ascent - (h + bbx[3]), advance[0], w, h)))
                return fail();
            auto* bitmap = keep ? static_cast<unsigned char*>(kept.back().image.data) : nullptr;
            for (int y = 0; y < h; ++y)
                if (!lines.next(line) || (bitmap && !row(line, bitmap + y * w, w))) return fail();
            if (!lines.next(line) || keyword(line) != "ENDCHAR") return fail();
        }
    }
    int size = have_descent ? ascent + descent : pixel_size > 0 ? pixel_size : box[1];
    if (kept.empty() || size < 1 || size > most_side) return fail();
    int count = static_cast<int>(kept.size());
    ::GlyphInfo* out = glyphs::hand_over(kept);
    return out ? Font{out, count, size} : Font{};
}

}  // namespace tavoro::bdf
