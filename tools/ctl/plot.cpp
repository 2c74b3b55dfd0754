#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorexctl {

namespace {

constexpr int plot_width = plot_layout::width - plot_layout::left - plot_layout::right;
constexpr int plot_height = plot_layout::height - plot_layout::top - plot_layout::bottom;
const char* const x_label = "X (mm)";
const char* const z_label = "Z (mm)";

bool plotted(const vorex_point_t& p) { return std::isfinite(p.x) && std::isfinite(p.z); }

std::string xml_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// --- Raster text: a 5 x 7 font for the characters of axis labels. --------

struct glyph {
    char c;
    std::uint8_t rows[7];  // bit 4 is the leftmost column
};

constexpr glyph font[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
};
// Tick numbers at the font's own size, axis names twice as large.
constexpr int tick_scale = 1;
constexpr int label_scale = 2;

const glyph* glyph_of(char c) {
    for (const glyph& g : font)
        if (g.c == c) return &g;
    return nullptr;  // spaces and anything unknown stay blank
}

int text_width(const std::string& text, int scale) { return static_cast<int>(text.size()) * 6 * scale; }

// Draws `text` with its top-left corner at (x, y); when `upward`, the text
// runs from bottom to top with (x, y) its bottom-left corner.
void draw_text(grey_image& picture, int x, int y, const std::string& text, int scale, bool upward = false) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const glyph* g = glyph_of(text[i]);
        if (!g) continue;
        const int along = static_cast<int>(i) * 6 * scale;
        for (int r = 0; r < 7 * scale; ++r)
            for (int c = 0; c < 5 * scale; ++c) {
                if (!((g->rows[r / scale] >> (4 - c / scale)) & 1)) continue;
                if (upward) picture.set(x + r, y - along - c, 0);
                else picture.set(x + along + c, y + r, 0);
            }
    }
}

void horizontal_line(grey_image& picture, int x0, int x1, int y, std::uint8_t shade) {
    for (int x = x0; x <= x1; ++x) picture.set(x, y, shade);
}

void vertical_line(grey_image& picture, int x, int y0, int y1, std::uint8_t shade) {
    for (int y = y0; y <= y1; ++y) picture.set(x, y, shade);
}

int pixel(double canvas) { return static_cast<int>(std::lround(canvas)); }

}  // namespace

plot_axis axis_for(double low, double high) {
    if (!(low <= high)) low = 0, high = 1;
    if (high - low < 1e-9 * std::max(1.0, std::fabs(low))) {
        const double pad = std::max(1.0, std::fabs(low) * 0.1);
        low -= pad;
        high += pad;
    }
    // Points exactly on a round value would otherwise sit on the frame.
    const double room = (high - low) * 0.02;
    low -= room;
    high += room;
    const double rough = (high - low) / 6;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough) {
            step = m * power;
            break;
        }
    plot_axis a;
    a.step = step;
    a.min = std::floor(low / step) * step;
    a.max = std::ceil(high / step) * step;
    const long count = std::lround((a.max - a.min) / step);
    for (long i = 0; i <= count; ++i) a.ticks.push_back(a.min + static_cast<double>(i) * step);
    return a;
}

std::string tick_text(double value, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    if (std::fabs(value) < step * 1e-6) value = 0;  // no "-0"
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double plot_layout::column(double data_x) const { return left + (data_x - x.min) / (x.max - x.min) * plot_width; }

double plot_layout::row(double data_z) const { return top + (data_z - z.min) / (z.max - z.min) * plot_height; }

plot_layout layout_for(const std::vector<vorex_point_t>& points) {
    double x_low = 0, x_high = -1, z_low = 0, z_high = -1;
    bool any = false;
    for (const vorex_point_t& p : points) {
        if (!plotted(p)) continue;
        if (!any) x_low = x_high = p.x, z_low = z_high = p.z;
        x_low = std::min(x_low, p.x), x_high = std::max(x_high, p.x);
        z_low = std::min(z_low, p.z), z_high = std::max(z_high, p.z);
        any = true;
    }
    plot_layout layout;
    layout.x = axis_for(x_low, x_high);
    layout.z = axis_for(z_low, z_high);
    return layout;
}

std::string plot_svg(const std::vector<vorex_point_t>& points, const std::string& caption) {
    const plot_layout l = layout_for(points);
    const int bottom_edge = plot_layout::top + plot_height, right_edge = plot_layout::left + plot_width;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(plot_layout::width) +
                      "\" height=\"" + std::to_string(plot_layout::height) + "\" viewBox=\"0 0 " +
                      std::to_string(plot_layout::width) + " " + std::to_string(plot_layout::height) +
                      "\" font-family=\"sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out += "<text x=\"" + std::to_string(plot_layout::width / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"14\">" +
           xml_escaped(caption) + "</text>\n";

    out += "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
    for (double t : l.x.ticks)
        out += "<line x1=\"" + fixed(l.column(t)) + "\" y1=\"" + std::to_string(plot_layout::top) + "\" x2=\"" +
               fixed(l.column(t)) + "\" y2=\"" + std::to_string(bottom_edge) + "\"/>\n";
    for (double t : l.z.ticks)
        out += "<line x1=\"" + std::to_string(plot_layout::left) + "\" y1=\"" + fixed(l.row(t)) + "\" x2=\"" +
               std::to_string(right_edge) + "\" y2=\"" + fixed(l.row(t)) + "\"/>\n";
    out += "</g>\n";
    out += "<rect x=\"" + std::to_string(plot_layout::left) + "\" y=\"" + std::to_string(plot_layout::top) +
           "\" width=\"" + std::to_string(plot_width) + "\" height=\"" + std::to_string(plot_height) +
           "\" fill=\"none\" stroke=\"black\"/>\n";

    out += "<g text-anchor=\"middle\">\n";
    for (double t : l.x.ticks)
        out += "<text x=\"" + fixed(l.column(t)) + "\" y=\"" + std::to_string(bottom_edge + 18) + "\">" +
               tick_text(t, l.x.step) + "</text>\n";
    out += "</g>\n<g text-anchor=\"end\">\n";
    for (double t : l.z.ticks)
        out += "<text x=\"" + std::to_string(plot_layout::left - 6) + "\" y=\"" + fixed(l.row(t) + 4) + "\">" +
               tick_text(t, l.z.step) + "</text>\n";
    out += "</g>\n";
    const int middle_x = plot_layout::left + plot_width / 2, middle_z = plot_layout::top + plot_height / 2;
    out += "<text x=\"" + std::to_string(middle_x) + "\" y=\"" + std::to_string(plot_layout::height - 12) +
           "\" text-anchor=\"middle\">" + x_label + "</text>\n";
    out += "<text x=\"20\" y=\"" + std::to_string(middle_z) + "\" text-anchor=\"middle\" transform=\"rotate(-90 20 " +
           std::to_string(middle_z) + ")\">" + z_label + "</text>\n";

    out += "<g fill=\"#1f4fbf\">\n";
    for (const vorex_point_t& p : points) {
        if (!plotted(p)) continue;
        out += "<circle cx=\"" + fixed(l.column(p.x)) + "\" cy=\"" + fixed(l.row(p.z)) + "\" r=\"1.5\"/>\n";
    }
    out += "</g>\n</svg>\n";
    return out;
}

grey_image plot_picture(const std::vector<vorex_point_t>& points) {
    const plot_layout l = layout_for(points);
    grey_image picture(plot_layout::width, plot_layout::height, 255);
    const int top = plot_layout::top, left = plot_layout::left;
    const int bottom_edge = top + plot_height, right_edge = left + plot_width;

    for (double t : l.x.ticks) vertical_line(picture, pixel(l.column(t)), top, bottom_edge, 221);
    for (double t : l.z.ticks) horizontal_line(picture, left, right_edge, pixel(l.row(t)), 221);
    horizontal_line(picture, left, right_edge, top, 0);
    horizontal_line(picture, left, right_edge, bottom_edge, 0);
    vertical_line(picture, left, top, bottom_edge, 0);
    vertical_line(picture, right_edge, top, bottom_edge, 0);

    for (double t : l.x.ticks) {
        const std::string text = tick_text(t, l.x.step);
        draw_text(picture, pixel(l.column(t)) - text_width(text, tick_scale) / 2, bottom_edge + 8, text, tick_scale);
    }
    for (double t : l.z.ticks) {
        const std::string text = tick_text(t, l.z.step);
        draw_text(picture, left - 6 - text_width(text, tick_scale), pixel(l.row(t)) - 3, text, tick_scale);
    }
    draw_text(picture, left + plot_width / 2 - text_width(x_label, label_scale) / 2,
              plot_layout::height - 8 - 7 * label_scale, x_label, label_scale);
    draw_text(picture, 12, top + plot_height / 2 + text_width(z_label, label_scale) / 2, z_label, label_scale, true);

    for (const vorex_point_t& p : points) {
        if (!plotted(p)) continue;
        const int cx = pixel(l.column(p.x)), cy = pixel(l.row(p.z));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) picture.set(cx + dx, cy + dy, 40);
    }
    return picture;
}

}  // namespace vorexctl
