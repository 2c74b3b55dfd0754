// Profiles of a part that moves under the sensor, stacked into a height
// map: one row per profile slot, columns on a regular X grid, each cell the
// Z (mm) of the surface there or NaN where nothing was measured; and the
// same map as a point cloud.
//
// Cells interpolate linearly between the two neighbouring points whose X
// bracket the cell's centre, and only where those two lie at most
// `bridge` apart: a single lost point is bridged, a shadow or the field's
// end stays missing. A cell is never filled from one side alone.
//
// Rows follow either a fixed pitch (mm of travel per profile: profile i is
// row i, a lost profile goes unnoticed) or a speed (mm/s): each profile's
// row comes from its receive time on a grid of the profiles' period
// (fitted to the receive times), so a profile lost on the way leaves a row
// of NaN, while the late arrivals of a burst after a stall close up.
#ifndef VOREX_SCAN_HEIGHT_MAP_H
#define VOREX_SCAN_HEIGHT_MAP_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vorex.h"

namespace vorex_scan {

// How rows are spaced: exactly one of pitch and speed is above 0.
struct scan_options {
    double pitch = 0;   // mm of travel per profile
    double speed = 0;   // mm/s of travel, rows placed by receive time
    double x_step = 0;  // mm between columns; 0: the sensor's own spacing
};

struct height_map {
    std::size_t rows = 0;
    std::size_t columns = 0;
    double x_origin = 0;  // X of column 0's centre, mm
    double x_step = 0;    // mm between columns
    double y_step = 0;    // mm of travel between rows; row 0 at Y = 0
    std::size_t profiles = 0;      // profiles that went into the map
    std::size_t missing_rows = 0;  // rows no profile fell in (speed only)
    std::vector<float> z;          // rows x columns, row by row; NaN: missing

    float at(std::size_t row, std::size_t column) const { return z[row * columns + column]; }
    double x_of(std::size_t column) const { return x_origin + static_cast<double>(column) * x_step; }
    double y_of(std::size_t row) const { return static_cast<double>(row) * y_step; }
};

// The lowest and highest Z in the map; `found` false when every cell is
// missing.
struct z_range {
    bool found = false;
    float low = 0;
    float high = 0;
};
z_range range_of(const height_map& map);

// The spacing of the points' X: the mean gap between consecutive finite
// points, holes left out, or 0 when there are fewer than two.
double native_spacing(const std::vector<vorex_point_t>& points);

// The columns of one profile. REQUIRES: x_step > 0.
class row_grid {
public:
    row_grid(double x_origin, double x_step, std::size_t columns, double bridge);
    std::size_t columns() const { return columns_; }
    // Writes `columns()` cells into `row` (NaN where nothing fell).
    // `points` in any order; infinite or undefined coordinates are left out.
    void fill(const std::vector<vorex_point_t>& points, float* row);

private:
    double x_origin_;
    double x_step_;
    std::size_t columns_;
    double bridge_;
    std::vector<vorex_point_t> sorted_;  // reused when a profile's X is out of order
};

// Keeps the profiles of one scan, then lays them out.
class scan_assembly {
public:
    // A copy of the profile's points and when it arrived (any fixed epoch).
    void add(const std::vector<vorex_point_t>& points, std::chrono::nanoseconds received);
    std::size_t size() const { return profiles_.size(); }
    // The map of what was added. REQUIRES: one of options.pitch and
    // options.speed above 0 and options.x_step >= 0. An empty map (0 rows)
    // when no finite point was added.
    height_map build(const scan_options& options) const;

private:
    struct profile {
        std::vector<vorex_point_t> points;
        std::chrono::nanoseconds received;
    };
    std::vector<profile> profiles_;
};

// The map's cells as points (X, Y, Z in mm), missing cells left out, row
// by row.
struct cloud_point {
    double x, y, z;
};
std::vector<cloud_point> point_cloud(const height_map& map);

}  // namespace vorex_scan

#endif
