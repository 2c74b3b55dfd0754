#include "sim/profile_scene.h"

#include <algorithm>
#include <cmath>

#include "data/profile_decode.h"
#include "sim/sensor_sim.h"

namespace vorex_sim {

using namespace scene;

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double plane_tilt = 0.02;  // mm of distance per mm of X

std::uint16_t to_counts(double value, double per_count) {
    return static_cast<std::uint16_t>(std::lround(value / per_count));
}

bool sparse_dropout(int index, std::uint32_t sequence) {
    const std::uint32_t mix = static_cast<std::uint32_t>(index) * 2654435761u ^ sequence * 40503u;
    return (mix >> 7) % 127 == 0;
}

}  // namespace

double box_centre(std::uint32_t sequence) {
    return box_travel * std::sin(2.0 * pi * static_cast<double>(sequence % box_period) / box_period);
}

double scene_distance(double x_mm, std::uint32_t sequence) {
    double distance = plane_distance + plane_tilt * x_mm;
    const double pipe_dx = x_mm - pipe_centre;
    if (std::fabs(pipe_dx) < pipe_radius)
        distance -= std::sqrt(pipe_radius * pipe_radius - pipe_dx * pipe_dx);
    if (std::fabs(x_mm - box_centre(sequence)) <= box_width / 2) distance = plane_distance - box_height;
    return distance;
}

bool scene_measured(int index, double x_mm, std::uint32_t sequence) {
    const double right_edge = box_centre(sequence) + box_width / 2;
    if (x_mm > right_edge && x_mm <= right_edge + shadow_width) return false;
    return !sparse_dropout(index, sequence);
}

double point_x(int index, int count) {
    return -field_half_width + 2 * field_half_width * index / (count - 1);
}

namespace {

// Distance of point `index` at x_mm, or a negative value for no measurement.
using surface = double (*)(int index, double x_mm, std::uint32_t sequence, double travel);

// One datagram as the sensor would send it. Pair types carry X and Z in
// their own scales; the single-value types carry only the distance and
// leave X to the point index.
// The layout (point count, pairs or single values, size) is the one the
// library decodes, so the two cannot drift apart.
bytes encode_profile(int data_type, std::uint32_t sequence, double travel, surface distance_at) {
    using namespace vorex_data;
    const profile_layout& layout = *layout_of(data_type);
    const bool pairs = layout.pairs;
    const int points = layout.points;
    const std::size_t sample_size = pairs ? 4 : 2;
    bytes out(layout.size, 0);
    out[at_data_type] = static_cast<std::uint8_t>(data_type);
    vorex_wire::store_u32_le(&out[at_sequence], sequence);
    vorex_wire::store_u16_le(&out[at_z_scale], pairs ? pair_z_scale : 1);
    vorex_wire::store_u16_le(&out[at_x_scale], pairs ? pair_x_scale : 1);
    vorex_wire::store_u16_le(&out[at_scale_divisor], pairs ? pair_divisor : single_divisor);

    const double x_per_count = static_cast<double>(pair_x_scale) / pair_divisor;
    const double z_per_count = pairs ? static_cast<double>(pair_z_scale) / pair_divisor : 1.0 / single_divisor;
    for (int i = 0; i < points; ++i) {
        std::uint8_t* s = &out[profile_header_size + static_cast<std::size_t>(i) * sample_size];
        const double x = point_x(i, points);
        const double d = distance_at(i, x, sequence, travel);
        const std::uint16_t z = d > 0 ? to_counts(d, z_per_count) : 0;
        if (pairs) {
            vorex_wire::store_u16_le(s, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(x / x_per_count))));
            vorex_wire::store_u16_le(s + 2, z);
        } else {
            vorex_wire::store_u16_le(s, z);
        }
    }
    return out;
}

double swinging_box(int index, double x, std::uint32_t sequence, double) {
    return scene_measured(index, x, sequence) ? scene_distance(x, sequence) : -1;
}

double moving_part(int index, double x, std::uint32_t sequence, double travel) {
    if (sparse_dropout(index, sequence)) return -1;
    return plane_distance - part_height(x, std::fmod(travel, part::period));
}

// Distance from (x, y) to the segment from (ax, ay) to (bx, by).
double to_segment(double x, double y, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double t = std::clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - ax - t * dx, y - ay - t * dy);
}

}  // namespace

double part_height(double x, double y) {
    using namespace part;
    double h = 0;
    if (x >= block_left && x <= block_right && y >= block_front && y <= block_back) {
        h = y < step_at ? block_low : block_high;
        // The letter V engraved in the low half.
        const double stroke = std::min(to_segment(x, y, letter_left, letter_top, letter_middle, letter_bottom),
                                       to_segment(x, y, letter_right, letter_top, letter_middle, letter_bottom));
        if (stroke <= letter_half_width) h -= letter_depth;
    }
    const double across = x - cylinder_axis;
    if (std::fabs(across) < cylinder_radius && y >= cylinder_front && y <= cylinder_back)
        h = std::max(h, cylinder_radius + std::sqrt(cylinder_radius * cylinder_radius - across * across));
    const double from_centre = std::hypot(x - sphere_x, y - sphere_y);
    if (from_centre < sphere_radius)
        h = std::max(h, sphere_radius + std::sqrt(sphere_radius * sphere_radius - from_centre * from_centre));
    return h;
}

bytes make_profile(int data_type, std::uint32_t sequence) {
    return encode_profile(data_type, sequence, 0, swinging_box);
}

bytes make_part_profile(int data_type, std::uint32_t sequence, double travel_mm) {
    return encode_profile(data_type, sequence, travel_mm, moving_part);
}

}  // namespace vorex_sim
