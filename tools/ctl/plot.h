// A profile drawn as a scatter plot: X across, Z down, both in millimetres,
// with a labelled grid. Z is the distance from the sensor, so with the
// sensor above the picture an object nearer to it stands up from what lies
// behind it, as a person looking at the scene sees it. The same layout
// renders to SVG text and to a grey picture for PNG.
#ifndef VOREXCTL_PLOT_H
#define VOREXCTL_PLOT_H

#include <string>
#include <vector>

#include "picture.h"
#include "vorex.h"

namespace vorexctl {

// One axis: the drawn range, a round step between ticks, and the ticks.
struct plot_axis {
    double min = 0;
    double max = 1;
    double step = 1;
    std::vector<double> ticks;
};

// An axis covering [low, high] and a little room on either side, with 4
// to 10 ticks at 1, 2 or 5 times a power of ten; a point or empty range is
// widened so it still shows.
plot_axis axis_for(double low, double high);
// Tick text with as many decimals as the step needs.
std::string tick_text(double value, double step);

struct plot_layout {
    static constexpr int width = 800;
    static constexpr int height = 500;
    static constexpr int left = 80;
    static constexpr int right = 24;
    static constexpr int top = 40;
    static constexpr int bottom = 60;

    plot_axis x;
    plot_axis z;

    // Canvas coordinates of a data position.
    double column(double data_x) const;
    double row(double data_z) const;
};

// Axes fitted to the finite points; points with an infinite or undefined
// coordinate are left out of the plot.
plot_layout layout_for(const std::vector<vorex_point_t>& points);

// A standalone SVG document: one <circle> per plotted point.
std::string plot_svg(const std::vector<vorex_point_t>& points, const std::string& caption);
// The same plot as a picture (the caption is left out).
grey_image plot_picture(const std::vector<vorex_point_t>& points);

}  // namespace vorexctl

#endif
