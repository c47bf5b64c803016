// The text form of a BMFont file: the line height, the page images it names and each glyph's box
// on its page. raylib's reader trusts all of it (a page name may lead anywhere, a glyph's box and
// page index are used unchecked, the glyph count sizes an allocation), so the package reads the
// file and checks each piece; the pages are loaded as images by the caller.
#pragma once

#include "font_glyphs.hpp"

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace tavoro::fnt {

constexpr int most_pages = 16;
using glyphs::most_offset, glyphs::most_side;
constexpr std::size_t most_glyphs = 1 << 16;

struct Glyph {
    int id, x, y, width, height, x_offset, y_offset, advance, page;
};

struct Font {
    int line_height = 0;
    std::vector<std::string> pages;  // file names in the font file's folder, by page id
    std::vector<Glyph> glyphs;
};

namespace detail {

// A `key=value` or `key="value"` field of a line, or false when the line has none.
bool field(std::string_view line, std::string_view key, std::string_view& value) {
    for (std::size_t at = line.find(' '); at != std::string_view::npos; at = line.find(' ', at + 1)) {
        std::string_view rest = line.substr(at + 1);
        if (rest.substr(0, key.size()) != key || rest.substr(key.size(), 1) != "=") continue;
        rest.remove_prefix(key.size() + 1);
        if (rest.substr(0, 1) == "\"") {
            std::size_t end = rest.find('"', 1);
            if (end == std::string_view::npos) return false;
            value = rest.substr(1, end - 1);
        } else {
            value = rest.substr(0, rest.find(' '));
        }
        return true;
    }
    return false;
}

bool number(std::string_view line, std::string_view key, int& out, int low, int high) {
    std::string_view value;
    if (!field(line, key, value)) return false;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), out);
    return error == std::errc{} && end == value.data() + value.size() && out >= low && out <= high;
}

// A plain name in the font's own folder: no separator, not the folder or its parent, no NUL.
bool plain_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace detail

// The font the text describes; an empty one (no line height) when anything is missing, out of
// range or names a file outside the font's folder.
inline Font read(std::string_view text) {
    using namespace detail;
    Font font;
    if (text.substr(0, 5) != "info ") return {};
    int pages = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view tag = line.substr(0, line.find(' '));
        if (tag == "common") {
            if (!number(line, "lineHeight", font.line_height, 1, most_side) || !number(line, "pages", pages, 1, most_pages))
                return {};
            font.pages.resize(static_cast<std::size_t>(pages));
        } else if (tag == "page") {
            int id = 0;
            std::string_view name;
            if (!number(line, "id", id, 0, pages - 1) || !field(line, "file", name) || !plain_name(name) ||
                !font.pages[static_cast<std::size_t>(id)].empty())
                return {};
            font.pages[static_cast<std::size_t>(id)] = name;
        } else if (tag == "char") {
            Glyph g;
            if (!number(line, "id", g.id, 0, 0x10FFFF) || !number(line, "x", g.x, 0, 1 << 14) ||
                !number(line, "y", g.y, 0, 1 << 14) || !number(line, "width", g.width, 0, most_side) ||
                !number(line, "height", g.height, 0, most_side) ||
                !number(line, "xoffset", g.x_offset, -most_offset, most_offset) ||
                !number(line, "yoffset", g.y_offset, -most_offset, most_offset) ||
                !number(line, "xadvance", g.advance, -most_offset, most_offset) ||
                !number(line, "page", g.page, 0, pages - 1) || font.glyphs.size() == most_glyphs)
                return {};
            font.glyphs.push_back(g);
        }
    }
    for (const auto& name : font.pages)
        if (name.empty()) return {};
    return font.glyphs.empty() ? Font{} : font;
}

}  // namespace tavoro::fnt
