// The colour picture of a scan. Text is drawn with FreeType in the
// system's sans-serif face (found through fontconfig); without a font the
// bars are drawn unlabelled.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "scan_files.h"

namespace vorexctl {

namespace {

using vorex_scan::height_map;
using rgb = std::array<std::uint8_t, 3>;

// matplotlib's viridis (public domain): perceptually uniform, readable in
// grey and by the colour-blind.
const rgb viridis[256] = {
#include "viridis.inc"
};

constexpr int max_side = 2000;
constexpr int footer_height = 66;
constexpr int min_width = 600;
constexpr int text_pixels = 15;
constexpr rgb missing_colour{150, 150, 150};
constexpr rgb ink{20, 20, 20};

class canvas {
public:
    canvas(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 3, 255) {}
    void put(int x, int y, rgb c) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
        p[0] = c[0], p[1] = c[1], p[2] = c[2];
    }
    // Lays `c` over the pixel with coverage `alpha` (0..255).
    void blend(int x, int y, rgb c, int alpha) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
        for (int i = 0; i < 3; ++i) p[i] = static_cast<std::uint8_t>((c[i] * alpha + p[i] * (255 - alpha)) / 255);
    }
    void box(int x0, int y0, int w, int h, rgb c) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) put(x, y, c);
    }
    int width, height;
    std::vector<std::uint8_t> pixels;
};

// One face at the label size for as long as the picture is drawn.
class text_face {
public:
    text_face() {
        if (FT_Init_FreeType(&library_) != 0) return;
        const std::string file = font_file();
        if (file.empty() || FT_New_Face(library_, file.c_str(), 0, &face_) != 0) {
            face_ = nullptr;
            return;
        }
        FT_Set_Pixel_Sizes(face_, 0, text_pixels);
    }
    ~text_face() {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }
    text_face(const text_face&) = delete;
    text_face& operator=(const text_face&) = delete;

    // Draws `text` with its baseline at `y`, from `x` (or ending at `x`
    // when `right_aligned`); the width drawn.
    int draw(canvas& c, int x, int y, const std::string& text, bool right_aligned = false) {
        if (!face_) return 0;
        if (right_aligned) x -= draw_or_measure(nullptr, 0, 0, text);
        return draw_or_measure(&c, x, y, text);
    }

private:
    int draw_or_measure(canvas* c, int x, int y, const std::string& text) {
        int pen = x;
        for (const char ch : text) {
            if (FT_Load_Char(face_, static_cast<unsigned char>(ch), FT_LOAD_RENDER) != 0) continue;
            const FT_GlyphSlot g = face_->glyph;
            for (unsigned r = 0; c && r < g->bitmap.rows; ++r)
                for (unsigned k = 0; k < g->bitmap.width; ++k)
                    c->blend(pen + g->bitmap_left + static_cast<int>(k), y - g->bitmap_top + static_cast<int>(r), ink,
                             g->bitmap.buffer[r * static_cast<unsigned>(g->bitmap.pitch) + k]);
            pen += static_cast<int>(g->advance.x >> 6);
        }
        return pen - x;
    }
    static std::string font_file() {
        std::string file;
        FcConfig* config = FcInitLoadConfigAndFonts();
        if (!config) return file;
        FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        FcChar8* name = nullptr;
        if (match && FcPatternGetString(match, FC_FILE, 0, &name) == FcResultMatch)
            file = reinterpret_cast<const char*>(name);
        if (match) FcPatternDestroy(match);
        FcPatternDestroy(pattern);
        FcConfigDestroy(config);
        return file;
    }
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

std::string mm_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f mm", std::fabs(value) >= 100 ? 1 : 2, value);
    return text;
}

// 1, 2 or 5 times a power of ten, at most `limit`.
double round_length(double limit) {
    const double power = std::pow(10.0, std::floor(std::log10(limit)));
    for (const double m : {5.0, 2.0, 1.0})
        if (m * power <= limit) return m * power;
    return power;
}

}  // namespace

png_rows scan_picture(const height_map& map) {
    const double y_step = map.y_step > 0 ? map.y_step : map.x_step;
    const double width_mm = static_cast<double>(map.columns) * map.x_step;
    const double height_mm = static_cast<double>(map.rows) * y_step;
    const double pixel = std::max(std::min(map.x_step, y_step), std::max(width_mm, height_mm) / max_side);
    const int map_width = std::max(1, static_cast<int>(std::lround(width_mm / pixel)));
    const int map_height = std::max(1, static_cast<int>(std::lround(height_mm / pixel)));
    canvas c(std::max(map_width, min_width), map_height + footer_height);

    const vorex_scan::z_range range = vorex_scan::range_of(map);
    const double span = range.found && range.high > range.low ? static_cast<double>(range.high) - range.low : 1.0;
    // Nearer the sensor (smaller Z) is brighter.
    const auto colour_of = [&](float z) {
        if (std::isnan(z)) return missing_colour;
        const double t = (static_cast<double>(range.high) - z) / span;
        return viridis[std::clamp(static_cast<int>(std::lround(t * 255)), 0, 255)];
    };
    for (int y = 0; y < map_height; ++y) {
        const auto row = std::min(map.rows - 1, static_cast<std::size_t>((y + 0.5) * pixel / y_step));
        for (int x = 0; x < map_width; ++x) {
            const auto column = std::min(map.columns - 1, static_cast<std::size_t>((x + 0.5) * pixel / map.x_step));
            c.put(x, y, colour_of(map.rows ? map.at(row, column) : NAN));
        }
    }

    text_face face;
    const int top = map_height + 8;
    // The colour bar, far on the left, near on the right.
    constexpr int bar_left = 10, bar_width = 260, bar_height = 12;
    for (int x = 0; x < bar_width; ++x)
        for (int y = 0; y < bar_height; ++y) c.put(bar_left + x, top + y, viridis[x * 255 / (bar_width - 1)]);
    const int label = top + bar_height + text_pixels + 2;
    if (range.found) {
        face.draw(c, bar_left, label, "far " + mm_text(range.high));
        face.draw(c, bar_left + bar_width, label, "near " + mm_text(range.low), true);
    }
    // The scale bar: a round length about a fifth of the map's width.
    const double length = round_length(std::max(width_mm / 5, map.x_step));
    const int scale_left = bar_left + bar_width + 40;
    const int scale_width = std::max(1, static_cast<int>(std::lround(length / pixel)));
    c.box(scale_left, top + 4, scale_width, 4, ink);
    c.box(scale_left, top, 2, bar_height, ink);
    c.box(scale_left + scale_width - 2, top, 2, bar_height, ink);
    char length_text[32];
    std::snprintf(length_text, sizeof length_text, "%g mm", length);
    face.draw(c, scale_left, label, length_text);
    // The grid.
    char grid[128];
    std::snprintf(grid, sizeof grid, "%zu x %zu cells, %.3g x %.3g mm", map.columns, map.rows, map.x_step, map.y_step);
    face.draw(c, bar_left, label + text_pixels + 4, grid);

    png_rows p;
    p.width = c.width;
    p.height = c.height;
    p.rgb_pixels = std::move(c.pixels);
    char description[160];
    std::snprintf(description, sizeof description,
                  "vorex scan: %zu x %zu cells of %.6g x %.6g mm; colour viridis from Z %.3f mm (far) to %.3f mm (near)",
                  map.columns, map.rows, map.x_step, map.y_step, range.high, range.low);
    p.text = {{"Description", description}};
    return p;
}

}  // namespace vorexctl
