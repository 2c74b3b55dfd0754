// scan: profiles of a part moving under the sensor, stacked into a height
// map and written as a height map, a picture or a point cloud.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "commands.h"
#include "format.h"
#include "height_map.h"
#include "option_checks.h"
#include "progress.h"
#include "scan_files.h"
#include "udp_table.h"

namespace vorexctl {

namespace {

using clock = std::chrono::steady_clock;

struct scan_command_options {
    selector_options sensor;
    std::uint64_t count = 0;
    double duration = 0;
    double pitch = 0;
    double speed = 0;
    double x_step = 0;
    double idle = 5;
    std::vector<std::string> out;
    bool gray16 = false;
    bool metres = false;
    CLI::Option* count_given = nullptr;
    CLI::Option* duration_given = nullptr;
};

double seconds_since(clock::time_point t) { return std::chrono::duration<double>(clock::now() - t).count(); }

// What the user asked for makes sense together, before any search: the
// format of each file.
std::vector<scan_format> checked_formats(const scan_command_options& o) {
    if (o.count_given->count() == 0 && o.duration_given->count() == 0) usage_error("give --count or --duration");
    std::vector<scan_format> formats;
    for (const std::string& out : o.out) {
        const scan_format format = scan_format_of(out, o.gray16);
        if (format == scan_format::other)
            usage_error("--out must name a .tiff, .png, .ply, .pcd or .csv file: " + out);
        formats.push_back(format);
    }
    const auto any = [&](std::initializer_list<scan_format> wanted) {
        return std::any_of(formats.begin(), formats.end(), [&](scan_format f) {
            return std::find(wanted.begin(), wanted.end(), f) != wanted.end();
        });
    };
    if (o.gray16 && !any({scan_format::gray16_png})) usage_error("--gray16 needs a .png file");
    if (o.metres && !any({scan_format::ply, scan_format::pcd, scan_format::csv}))
        usage_error("--metres needs a .ply, .pcd or .csv file");
    return formats;
}

std::string summary(const vorex_scan::height_map& map, bool by_speed, std::int64_t dropped) {
    char text[320];
    const vorex_scan::z_range z = vorex_scan::range_of(map);
    const std::string lost = by_speed ? std::to_string(map.missing_rows) + " lost" : "lost unknown (by pitch)";
    const std::string drops = dropped < 0 ? "" : ", " + std::to_string(dropped) + " dropped by the kernel";
    std::snprintf(text, sizeof text, "%zu profiles, %s%s, grid %zu x %zu of %.4g x %.4g mm, Z %.3f to %.3f mm",
                  map.profiles, lost.c_str(), drops.c_str(), map.columns, map.rows, map.x_step, map.y_step,
                  static_cast<double>(z.low), static_cast<double>(z.high));
    return text;
}

void run_scan(const scan_command_options& o) {
    const std::vector<scan_format> formats = checked_formats(o);
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    const std::uint16_t port = sensor->info().data_port;
    const std::int64_t drops_before = own_drops_on_port(port);

    vorex_scan::scan_assembly scan;
    vorex_profile profile;
    vorex_receive_time received;
    live_line bar(std::chrono::milliseconds(100), live_line::at_end::keep);
    const auto start = clock::now();
    auto last = start;
    while (o.count_given->count() > 0 ? scan.size() < o.count : seconds_since(start) < o.duration) {
        // The kernel's arrival time: rows do not follow when this loop
        // happened to get to a profile.
        if (sensor->get_result(profile, received)) {
            scan.add(profile.points, received.time_since_epoch());
            last = clock::now();
        } else if (seconds_since(last) >= o.idle) {
            bar.clear();
            fail("no profile for " + number_text(o.idle) + " s (" + std::to_string(scan.size()) + " received)");
        }
        bar.show(collection_line(scan.size(), o.count, seconds_since(start), o.duration));
    }
    bar.show(collection_line(scan.size(), o.count, seconds_since(start), o.duration), true);
    const std::int64_t drops_after = own_drops_on_port(port);
    if (scan.size() == 0) fail("no profile received");

    const vorex_scan::height_map map = scan.build({o.pitch, o.speed, o.x_step});
    if (map.rows == 0) fail("no point measured in " + std::to_string(scan.size()) + " profiles");
    std::string error, names;
    for (std::size_t i = 0; i < o.out.size(); ++i) {
        if (!write_scan(o.out[i], formats[i], map, o.metres, &error)) fail(error);
        names += (i ? ", " : "") + o.out[i];
    }
    const std::int64_t dropped = drops_before < 0 || drops_after < 0 ? -1 : drops_after - drops_before;
    std::printf("%s: %s\n", names.c_str(), summary(map, o.speed > 0, dropped).c_str());
}

}  // namespace

void add_scan_command(CLI::App& app, command_registry& registry) {
    auto scan = std::make_shared<scan_command_options>();
    CLI::App* s = app.add_subcommand(
        "scan", "Stack the profiles of a part moving under the sensor into a height map (rows: profiles, columns: "
                "a regular X grid, cells interpolated linearly between neighbouring points, missing: NaN) and write "
                "it as a .tiff height map (32-bit float, mm), a .png picture, a .ply or .pcd point cloud or .csv "
                "points (x,y,z)");
    add_selector_options(*s, scan->sensor);
    scan->count_given = s->add_option("--count", scan->count, "Stack this many profiles")
                            ->check(whole_range("COUNT >= 1", 1, HUGE_VAL));
    scan->duration_given = s->add_option("--duration", scan->duration, "Stack the profiles of this many seconds")
                               ->check(positive_number())
                               ->excludes(scan->count_given);
    CLI::Option* pitch = s->add_option("--pitch", scan->pitch, "mm of travel between profiles (default 1)")
                             ->check(positive_number());
    s->add_option("--speed", scan->speed,
                  "mm/s of travel: rows follow the profiles' receive times, a lost profile leaves a missing row")
        ->check(positive_number())
        ->excludes(pitch);
    s->add_option("--x-step", scan->x_step, "mm between columns (default: the sensor's own point spacing)")
        ->check(positive_number());
    s->add_option("--idle", scan->idle, "Fail when no profile arrives for this many seconds")
        ->check(positive_number())
        ->capture_default_str();
    s->add_option("--out", scan->out,
                  "The file: NAME.tiff, NAME.png, NAME.ply, NAME.pcd or NAME.csv (give it again for more files of "
                  "the same scan)")
        ->required();
    s->add_flag("--gray16", scan->gray16,
                "With .png: 16-bit grey heights instead of colours (the scale is in the file's text: "
                "Z mm = offset + (value - 1) * step, 0 missing)");
    s->add_flag("--metres", scan->metres, "With .ply, .pcd and .csv: coordinates in metres instead of mm");
    registry.add(s, [scan] {
        if (scan->pitch <= 0 && scan->speed <= 0) scan->pitch = 1;
        run_scan(*scan);
    });
}

}  // namespace vorexctl
