#include "height_map.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace vorex_scan {

namespace {

constexpr float missing = std::numeric_limits<float>::quiet_NaN();
// A point this close to a cell's centre (in cells) lies on it: X computed
// as a product and a division rarely lands on the grid to the last bit.
constexpr double on_centre = 1e-9;
// Neighbours farther apart than this many native spacings are not bridged.
constexpr double bridged_spacings = 2.5;
constexpr std::size_t spacing_samples = 32;

// Floors without the library call that std::floor becomes without SSE4.1;
// for values well inside the range of 64 bits, as cell positions are
// (points far off the grid are clamped first).
double floor_of(double v) {
    const double t = static_cast<double>(static_cast<std::int64_t>(v));
    return t - (v < t ? 1 : 0);
}
double ceil_of(double v) { return -floor_of(-v); }
constexpr double far_off = 1e15;  // cells; any point beyond this is off the grid anyway

bool finite(const vorex_point_t& p) { return std::isfinite(p.x) && std::isfinite(p.z); }

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The X extent of every finite point added; `found` false when none.
struct x_extent {
    bool found = false;
    double low = 0;
    double high = 0;
};

// Each profile's row from its slot (its arrival on the period's grid),
// taken from the last back: a profile that arrived late, as those of a
// burst after a stall do, sits right before the next one; an earlier slot
// is kept, so a lost profile leaves its row empty. Arrival is never early
// by more than the jitter, so the late ones are the ones to move.
void ordered_rows(const std::vector<double>& slots, std::vector<std::size_t>& rows) {
    if (slots.empty()) return;
    std::vector<double> k(slots.size());
    k.back() = slots.back();
    for (std::size_t i = slots.size() - 1; i-- > 0;) k[i] = std::min(k[i + 1] - 1, slots[i]);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::size_t>(k[i] - k[0]);
}

// Places profiles received at `times` (seconds, in order of arrival) in
// rows one period apart and returns the period. A first guess (the median
// gap) gives slots; the rows they allow give a better period by a least
// squares fit of time on row; three times over, so a long scan does not
// drift by the first guess's error. One profile: row 0 and period 0.
double rows_by_time(const std::vector<double>& times, std::vector<std::size_t>& rows) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i)
        if (times[i] > times[i - 1]) gaps.push_back(times[i] - times[i - 1]);
    double period = median(std::move(gaps));
    double start = times.empty() ? 0 : times[0];
    for (int pass = 0; pass < 3 && period > 0; ++pass) {
        std::vector<double> slots;
        for (const double t : times) slots.push_back(std::round((t - start) / period));
        ordered_rows(slots, rows);
        double mean_r = 0, mean_t = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            mean_r += static_cast<double>(rows[i]);
            mean_t += times[i] - times[0];
        }
        mean_r /= static_cast<double>(rows.size());
        mean_t /= static_cast<double>(rows.size());
        double srt = 0, srr = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const double dr = static_cast<double>(rows[i]) - mean_r;
            srt += dr * (times[i] - times[0] - mean_t);
            srr += dr * dr;
        }
        if (srr <= 0 || srt <= 0) break;
        period = srt / srr;
        start = times[0] + mean_t - period * mean_r;
    }
    return period;
}

}  // namespace

z_range range_of(const height_map& map) {
    z_range r;
    for (const float z : map.z) {
        if (std::isnan(z)) continue;
        if (!r.found || z < r.low) r.low = z;
        if (!r.found || z > r.high) r.high = z;
        r.found = true;
    }
    return r;
}

double native_spacing(const std::vector<vorex_point_t>& points) {
    std::vector<double> xs;
    xs.reserve(points.size());
    for (const vorex_point_t& p : points)
        if (finite(p)) xs.push_back(p.x);
    if (!std::is_sorted(xs.begin(), xs.end())) std::sort(xs.begin(), xs.end());
    std::vector<double> gaps;
    for (std::size_t i = 1; i < xs.size(); ++i)
        if (xs[i] > xs[i - 1]) gaps.push_back(xs[i] - xs[i - 1]);
    // The mean of the ordinary gaps: X quantised by the sensor's scale
    // alternates between two neighbouring counts, whose median would be
    // either; holes (gaps past 1.5 times the median) are left out.
    const double usual = median(gaps);
    double sum = 0;
    std::size_t n = 0;
    for (const double g : gaps)
        if (g <= 1.5 * usual) sum += g, ++n;
    return n ? sum / static_cast<double>(n) : 0;
}

row_grid::row_grid(double x_origin, double x_step, std::size_t columns, double bridge)
    : x_origin_(x_origin), x_step_(x_step), columns_(columns), bridge_(bridge) {}

void row_grid::fill(const std::vector<vorex_point_t>& points, float* row) {
    std::fill(row, row + columns_, missing);
    const std::vector<vorex_point_t>* ordered = &points;
    const auto by_x = [](const vorex_point_t& a, const vorex_point_t& b) { return a.x < b.x; };
    const bool all_finite = std::all_of(points.begin(), points.end(), finite);
    if (!all_finite || !std::is_sorted(points.begin(), points.end(), by_x)) {
        sorted_.clear();
        std::copy_if(points.begin(), points.end(), std::back_inserter(sorted_), finite);
        std::sort(sorted_.begin(), sorted_.end(), by_x);
        ordered = &sorted_;
    }
    const std::vector<vorex_point_t>& p = *ordered;
    const double last = static_cast<double>(columns_) - 1;
    const double per_step = 1.0 / x_step_;
    const auto cell_of = [&](double x) { return std::clamp((x - x_origin_) * per_step, -far_off, far_off); };
    double u = p.empty() ? 0 : cell_of(p[0].x);
    for (std::size_t i = 0; i < p.size(); ++i) {
        // A point on a cell's centre gives that cell, neighbours or not.
        const double nearest = floor_of(u + 0.5);
        if (std::fabs(u - nearest) <= on_centre && nearest >= 0 && nearest <= last)
            row[static_cast<std::size_t>(nearest)] = static_cast<float>(p[i].z);
        if (i + 1 == p.size()) break;
        const vorex_point_t& a = p[i];
        const vorex_point_t& b = p[i + 1];
        const double next = cell_of(b.x);
        const double gap = b.x - a.x;
        const double first = std::max(0.0, ceil_of(u - on_centre));
        const double end = std::min(last, floor_of(next + on_centre));
        u = next;
        if (gap <= 0 || gap > bridge_) continue;
        for (double c = first; c <= end; ++c) {
            const double t = std::clamp((x_origin_ + c * x_step_ - a.x) / gap, 0.0, 1.0);
            row[static_cast<std::size_t>(c)] = static_cast<float>(a.z + (b.z - a.z) * t);
        }
    }
}

void scan_assembly::add(const std::vector<vorex_point_t>& points, std::chrono::nanoseconds received) {
    profiles_.push_back({points, received});
}

height_map scan_assembly::build(const scan_options& options) const {
    height_map map;
    x_extent extent;
    std::vector<double> spacings;
    for (const profile& p : profiles_)
        for (const vorex_point_t& q : p.points) {
            if (!finite(q)) continue;
            extent.low = extent.found ? std::min(extent.low, q.x) : q.x;
            extent.high = extent.found ? std::max(extent.high, q.x) : q.x;
            extent.found = true;
        }
    // The sensor's spacing hardly changes within a scan: profiles spread
    // over it tell it as well as all of them.
    const std::size_t sample_every = std::max<std::size_t>(1, profiles_.size() / spacing_samples);
    for (std::size_t i = 0; i < profiles_.size(); i += sample_every) {
        const double s = native_spacing(profiles_[i].points);
        if (s > 0) spacings.push_back(s);
    }
    if (!extent.found) return map;
    const double native = median(spacings);
    map.x_step = options.x_step > 0 ? options.x_step : native > 0 ? native : 1.0;
    // Columns sit on whole multiples of the step, so maps of one sensor
    // with one step line up whatever each scan's extent.
    const double first = std::ceil(extent.low / map.x_step - on_centre);
    const double last = std::floor(extent.high / map.x_step + on_centre);
    map.x_origin = first * map.x_step;
    map.columns = static_cast<std::size_t>(last - first) + 1;

    // Each profile's row.
    std::vector<std::size_t> rows(profiles_.size());
    map.y_step = options.pitch;
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = i;
    if (options.speed > 0) {
        std::vector<double> times;
        for (const profile& p : profiles_) times.push_back(std::chrono::duration<double>(p.received).count());
        const double period = rows_by_time(times, rows);
        map.y_step = options.speed * period;  // 0 for one profile: no travel to tell
    }
    map.rows = rows.empty() ? 0 : rows.back() + 1;
    map.profiles = profiles_.size();
    map.missing_rows = map.rows - profiles_.size();
    map.z.assign(map.rows * map.columns, missing);

    row_grid grid(map.x_origin, map.x_step, map.columns, bridged_spacings * (native > 0 ? native : map.x_step));
    for (std::size_t i = 0; i < profiles_.size(); ++i) grid.fill(profiles_[i].points, &map.z[rows[i] * map.columns]);
    return map;
}

std::vector<cloud_point> point_cloud(const height_map& map) {
    std::vector<cloud_point> out;
    for (std::size_t r = 0; r < map.rows; ++r)
        for (std::size_t c = 0; c < map.columns; ++c) {
            const float z = map.at(r, c);
            if (!std::isnan(z)) out.push_back({map.x_of(c), map.y_of(r), z});
        }
    return out;
}

}  // namespace vorex_scan
