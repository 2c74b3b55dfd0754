// The scene the simulated sensor measures: a conveyor plane seen from
// above, a box sliding to and fro across the laser line and a pipe lying
// still beside it. Distances in millimetres from the sensor, X across the
// line with 0 under the sensor.
#ifndef VOREX_SIM_PROFILE_SCENE_H
#define VOREX_SIM_PROFILE_SCENE_H

#include <cstddef>
#include <cstdint>

namespace vorex_sim {

namespace scene {
constexpr double field_half_width = 120.0;  // X runs from -120 to +120 mm
constexpr double plane_distance = 250.0;    // at X = 0; the plane tilts slightly
constexpr double box_width = 60.0;
constexpr double box_height = 40.0;
constexpr double box_travel = 50.0;         // the box centre swings +-50 mm
constexpr std::uint32_t box_period = 400;   // profiles per swing
constexpr double pipe_centre = -90.0;
constexpr double pipe_radius = 15.0;
constexpr double shadow_width = 3.0;        // the camera cannot see beside the box's right edge

// Scale factors the sensor reports: pair types 0.025 mm per X count and
// 0.02 mm per Z count; single-value types 0.02 mm per count.
constexpr std::uint16_t pair_x_scale = 5;
constexpr std::uint16_t pair_z_scale = 4;
constexpr std::uint16_t pair_divisor = 200;
constexpr std::uint16_t single_divisor = 50;

// Header bytes the sensor fills for itself: the profile's sequence number.
constexpr std::size_t at_sequence = 4;
}  // namespace scene

// The part that slides past the line along Y (mm from its leading edge,
// repeating every `period`): a block whose top steps up half-way, with a V
// engraved in its lower half, a cylinder lying along Y and a sphere, all on
// the conveyor plane (untilted here). Heights in mm above the plane.
namespace part {
constexpr double period = 320.0;  // one part and the conveyor around it
constexpr double block_left = -110.0, block_right = -10.0;
constexpr double block_front = 60.0, block_back = 260.0;
constexpr double step_at = 160.0;  // Y where the top steps up
constexpr double block_low = 20.0, block_high = 35.0;
constexpr double letter_left = -95.0, letter_right = -25.0, letter_middle = -60.0;
constexpr double letter_top = 75.0, letter_bottom = 145.0;
constexpr double letter_half_width = 5.0, letter_depth = 5.0;
constexpr double cylinder_axis = 35.0, cylinder_radius = 20.0;
constexpr double cylinder_front = 70.0, cylinder_back = 250.0;
constexpr double sphere_x = 90.0, sphere_y = 160.0, sphere_radius = 18.0;
}  // namespace part

// The part's height at (x, y), y along the part from its leading edge.
double part_height(double x_mm, double y_mm);

// Where the box's centre is in profile number `sequence`.
double box_centre(std::uint32_t sequence);
// The distance of the surface under X = x_mm in profile `sequence`.
double scene_distance(double x_mm, std::uint32_t sequence);
// Whether point `index` (at x_mm) is measured, or lost in the box's shadow
// or to a sparse dropout that follows the index and the sequence.
bool scene_measured(int index, double x_mm, std::uint32_t sequence);
// The X of point `index` of `count` across the field.
double point_x(int index, int count);

}  // namespace vorex_sim

#endif
