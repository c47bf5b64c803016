// Glyphs from a BDF file (text: a header, then per glyph its code point, box, advance and rows of
// hex bitmap). raylib's own BDF reader loses its glyph array at the first bitmap and writes
// through a null pointer, so the package reads BDF itself, every number bounded before use.
#pragma once

#include <raylib.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace tavoro::bdf {

constexpr int most_side = 512;      // a glyph's box, as the largest size a TrueType font renders at
constexpr int most_offset = 4096;   // offsets and advances, in pixels
constexpr long long most_pixels = 1LL << 26;

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

void release(std::vector<::GlyphInfo>& glyphs) {
    for (auto& g : glyphs) std::free(g.image.data);
    glyphs.clear();
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
    std::vector<::GlyphInfo> glyphs;
    long long pixels = 0;
    auto fail = [&] { release(glyphs); return Font{}; };
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
            bool kept = false;
            for (int c : wanted) kept = kept || c == encoding;
            for (const auto& g : glyphs) kept = kept && g.value != encoding;
            int area = kept ? w * h : 0;
            pixels += area;
            if (pixels > most_pixels) return fail();
            auto* bitmap = area > 0 ? static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(area), 1)) : nullptr;
            if (area > 0 && !bitmap) return fail();
            if (kept)
                glyphs.push_back({encoding, bbx[2], ascent - (h + bbx[3]), advance[0],
                                  {bitmap, bitmap ? w : 0, bitmap ? h : 0, 1, PIXELFORMAT_UNCOMPRESSED_GRAYSCALE}});
            for (int y = 0; y < h; ++y)
                if (!lines.next(line) || (bitmap && !row(line, bitmap + y * w, w))) return fail();
            if (!lines.next(line) || keyword(line) != "ENDCHAR") return fail();
        }
    }
    int size = have_descent ? ascent + descent : pixel_size > 0 ? pixel_size : box[1];
    if (glyphs.empty() || size < 1 || size > most_side) return fail();
    auto* out = static_cast<::GlyphInfo*>(std::malloc(glyphs.size() * sizeof(::GlyphInfo)));
    if (!out) return fail();
    std::memcpy(out, glyphs.data(), glyphs.size() * sizeof(::GlyphInfo));
    return {out, static_cast<int>(glyphs.size()), size};
}

}  // namespace tavoro::bdf
