// The height map that synthetic profiles of known surfaces make: exact
// heights on the grid, NaN where no two close neighbours bracket a cell,
// and rows placed by pitch or by receive time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "height_map.h"

namespace {

using namespace std::chrono_literals;
using vorex_scan::height_map;
using vorex_scan::scan_options;

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// Points at x = first, first + step, ... (count of them), z = surface(x).
std::vector<vorex_point_t> line(double first, double step, int count, const std::function<double(double)>& surface) {
    std::vector<vorex_point_t> out;
    for (int i = 0; i < count; ++i) {
        const double x = first + step * i;
        out.push_back({x, surface(x)});
    }
    return out;
}

std::vector<vorex_point_t> without(std::vector<vorex_point_t> points, std::initializer_list<int> lost) {
    for (auto it = std::rbegin(lost); it != std::rend(lost); ++it) points.erase(points.begin() + *it);
    return points;
}

struct assembly_case {
    const char* name;
    std::vector<std::vector<vorex_point_t>> profiles;
    std::vector<std::chrono::nanoseconds> received;  // one per profile
    scan_options options;
    // What the map must be.
    std::size_t rows, columns;
    double x_origin, x_step, y_step;
    std::size_t missing_rows;
    std::vector<float> z;  // rows x columns
};

const auto plane = [](double) { return 5.0; };
const auto step_up = [](double x) { return x < 2.5 ? 5.0 : 8.0; };
const auto tilted = [](double x) { return 100.0 + 0.5 * x; };

std::vector<assembly_case> cases() {
    const auto p = line(0, 1, 5, plane);
    return {
        {"a plane on the native grid, rows at the pitch", {p, p}, {0ns, 5ns}, {2.0, 0, 0}, 2, 5, 0, 1, 2, 0,
         {5, 5, 5, 5, 5, 5, 5, 5, 5, 5}},
        {"a step: points on the centres keep their height, a half step between them is interpolated",
         {line(0, 1, 5, step_up)}, {0ns}, {1.0, 0, 0.5}, 1, 9, 0, 0.5, 1, 0,
         {5, 5, 5, 5, 5, 6.5f, 8, 8, 8}},
        {"a tilted plane sampled at 0.3 mm, gridded at 0.25 mm from the first whole step",
         {line(0.1, 0.3, 6, tilted)}, {0ns}, {1.0, 0, 0.25}, 1, 6, 0.25, 0.25, 1, 0,
         {100.125f, 100.25f, 100.375f, 100.5f, 100.625f, 100.75f}},
        {"one lost point is bridged, a wider hole stays missing",
         {without(line(0, 1, 11, plane), {2, 5, 6, 7})}, {0ns}, {1.0, 0, 0}, 1, 11, 0, 1, 1, 0,
         {5, 5, 5, 5, 5, nan, nan, nan, 5, 5, 5}},
        {"points out of order and undefined ones are sorted and left out",
         {{{3, 7}, {1, 7}, {NAN, 1}, {2, 7}, {0, INFINITY}, {0, 7}}}, {0ns}, {1.0, 0, 0}, 1, 4, 0, 1, 1, 0,
         {7, 7, 7, 7}},
        {"by speed, a profile lost on the way leaves its row missing",
         {p, p, p, p}, {1000ms, 1010ms, 1030ms, 1040ms}, {0, 200.0, 0}, 5, 5, 0, 1, 2, 1,
         {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, nan, nan, nan, nan, nan, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}},
        {"by speed, jitter under half a period keeps every profile in its own row",
         {p, p, p, p}, {0ms, 9ms, 21ms, 30ms}, {0, 100.0, 0}, 4, 5, 0, 1, 1.02, 0,
         std::vector<float>(20, 5)},
        {"by speed, a stall and the burst that catches up leave no row missing and no drift",
         {p, p, p, p, p}, {0ms, 10ms, 27ms, 30ms, 40ms}, {0, 100.0, 0}, 5, 5, 0, 1, 1.0, 0,
         std::vector<float>(25, 5)},
    };
}

void PrintTo(const assembly_case& c, std::ostream* out) { *out << c.name; }

class assembly : public ::testing::TestWithParam<assembly_case> {};

TEST_P(assembly, gives_the_known_map) {
    const assembly_case& c = GetParam();
    vorex_scan::scan_assembly a;
    for (std::size_t i = 0; i < c.profiles.size(); ++i) a.add(c.profiles[i], c.received[i]);
    const height_map m = a.build(c.options);
    ASSERT_EQ(m.rows, c.rows);
    ASSERT_EQ(m.columns, c.columns);
    EXPECT_DOUBLE_EQ(m.x_origin, c.x_origin);
    EXPECT_DOUBLE_EQ(m.x_step, c.x_step);
    EXPECT_NEAR(m.y_step, c.y_step, 1e-12);
    EXPECT_EQ(m.profiles, c.profiles.size());
    EXPECT_EQ(m.missing_rows, c.missing_rows);
    ASSERT_EQ(m.z.size(), c.z.size());
    for (std::size_t i = 0; i < c.z.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i / m.columns) + " column " + std::to_string(i % m.columns));
        if (std::isnan(c.z[i])) {
            EXPECT_TRUE(std::isnan(m.z[i])) << m.z[i];
        } else {
            EXPECT_FLOAT_EQ(m.z[i], c.z[i]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(scan, assembly, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<assembly_case>& param) {
                             return "case_" + std::to_string(param.index);
                         });

// Five profiles held up late in a scan arrive together just before the
// next one: they close up before it, and no row is left empty anywhere.
TEST(scan_assembly, a_late_burst_leaves_no_row_missing) {
    vorex_scan::scan_assembly a;
    const auto p = line(0, 1, 5, plane);
    for (int i = 0; i < 30; ++i) {
        const auto on_time = std::chrono::milliseconds(10 * i);
        a.add(p, i >= 20 && i < 25 ? 250ms + std::chrono::microseconds(100 * (i - 20)) : on_time);
    }
    const height_map m = a.build({0, 100.0, 0});
    EXPECT_EQ(m.rows, 30u);
    EXPECT_EQ(m.missing_rows, 0u);
    EXPECT_NEAR(m.y_step, 1.0, 0.05);
    EXPECT_EQ(std::count_if(m.z.begin(), m.z.end(), [](float z) { return std::isnan(z); }), 0);
}

TEST(scan_assembly, the_cloud_holds_each_measured_cell_at_its_place_and_the_range_spans_them) {
    vorex_scan::scan_assembly a;
    a.add(without(line(0, 1, 9, tilted), {4, 5, 6}), 0ns);
    a.add({}, 1ns);
    const height_map m = a.build({3.0, 0, 0});
    ASSERT_EQ(m.rows, 2u);
    const auto cloud = vorex_scan::point_cloud(m);
    ASSERT_EQ(cloud.size(), 6u) << "columns 4 to 6 lie in the hole, row 1 is empty";
    EXPECT_DOUBLE_EQ(cloud[4].x, 7);
    EXPECT_DOUBLE_EQ(cloud[4].y, 0);
    EXPECT_DOUBLE_EQ(cloud[4].z, 103.5);
    const auto r = vorex_scan::range_of(m);
    ASSERT_TRUE(r.found);
    EXPECT_FLOAT_EQ(r.low, 100);
    EXPECT_FLOAT_EQ(r.high, 104);
    EXPECT_EQ(vorex_scan::scan_assembly().build({1.0, 0, 0}).rows, 0u) << "nothing added, nothing built";
}

}  // namespace
