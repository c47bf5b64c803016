// Glyph records gathered by the package's own font readers (BDF, BMFont), handed to raylib's
// atlas as it expects them: one malloc'd array of glyphs with malloc'd grey pixels.
#pragma once

#include <raylib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace tavoro::glyphs {

constexpr int most_side = 512;      // a glyph's box, as the largest size a TrueType font renders at
constexpr int most_offset = 4096;   // offsets and advances, in pixels
constexpr long long most_pixels = 1LL << 26;

// Whether a glyph for `codepoint` is asked for and not yet among `kept` (a file's later
// duplicates are skipped).
inline bool wanted(const std::vector<int>& asked, const std::vector<::GlyphInfo>& kept, int codepoint) {
    bool asked_for = false;
    for (int c : asked) asked_for = asked_for || c == codepoint;
    for (const auto& g : kept) asked_for = asked_for && g.value != codepoint;
    return asked_for;
}

// A glyph of `w` x `h` zeroed grey pixels (none for an empty box); false when out of memory.
inline bool add(std::vector<::GlyphInfo>& kept, int codepoint, int offset_x, int offset_y, int advance, int w, int h) {
    std::size_t area = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    auto* pixels = area ? static_cast<unsigned char*>(std::calloc(area, 1)) : nullptr;
    if (area && !pixels) return false;
    kept.push_back({codepoint, offset_x, offset_y, advance,
                    {pixels, pixels ? w : 0, pixels ? h : 0, 1, PIXELFORMAT_UNCOMPRESSED_GRAYSCALE}});
    return true;
}

inline void release(std::vector<::GlyphInfo>& kept) {
    for (auto& g : kept) std::free(g.image.data);
    kept.clear();
}

// The glyphs as one malloc'd array (null, with the glyphs released, when there are none or no
// memory is left).
inline ::GlyphInfo* hand_over(std::vector<::GlyphInfo>& kept) {
    auto* out = kept.empty() ? nullptr : static_cast<::GlyphInfo*>(std::malloc(kept.size() * sizeof(::GlyphInfo)));
    if (!out) {
        release(kept);
        return nullptr;
    }
    std::memcpy(out, kept.data(), kept.size() * sizeof(::GlyphInfo));
    return out;
}

}  // namespace tavoro::glyphs
