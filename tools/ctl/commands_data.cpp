// stream, plot and image.
#include <chrono>
#include <csignal>
#include <cstring>

#include "commands.h"
#include "format.h"
#include "option_checks.h"
#include "picture.h"
#include "plot.h"
#include "progress.h"
#include "udp_table.h"

namespace vorexctl {

namespace {

using clock = std::chrono::steady_clock;

const char* const malformed_text = "Malformed packet";
constexpr auto status_period = std::chrono::milliseconds(250);

volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

// Ctrl-C ends a stream cleanly (output flushed, summary printed) while it
// runs; the previous handling comes back afterwards.
class interrupt_scope {
public:
    interrupt_scope() : previous_(std::signal(SIGINT, on_interrupt)) { interrupted = 0; }
    ~interrupt_scope() { std::signal(SIGINT, previous_); }
    interrupt_scope(const interrupt_scope&) = delete;
    interrupt_scope& operator=(const interrupt_scope&) = delete;

private:
    void (*previous_)(int);
};

double seconds_since(clock::time_point t) { return std::chrono::duration<double>(clock::now() - t).count(); }

// One try at the next profile (at most one receive timeout); a datagram
// the library refused as malformed is counted.
bool next_profile(vorex& sensor, vorex_profile& profile, std::uint64_t& malformed) {
    if (sensor.get_result(profile)) return true;
    if (std::strcmp(sensor.error_msg(), malformed_text) == 0) ++malformed;
    return false;
}

// The kernel's drops on the data port since the stream began, read anew at
// most once per status period (the table costs a file read), or -1.
class port_drops {
public:
    explicit port_drops(std::uint16_t port) : port_(port), before_(own_drops_on_port(port)), now_(before_), read_(clock::now()) {}
    std::int64_t since_start(bool fresh) {
        if (before_ < 0) return -1;
        if (fresh || clock::now() - read_ >= status_period) {
            now_ = own_drops_on_port(port_);
            read_ = clock::now();
        }
        return now_ < 0 ? -1 : now_ - before_;
    }

private:
    std::uint16_t port_;
    std::int64_t before_;
    std::int64_t now_;
    clock::time_point read_;
};

struct stream_options {
    selector_options sensor;
    std::uint64_t count = 0;
    double duration = 0;
    double idle = 5;
    std::string out;
    std::string format = "csv";
};

void run_stream(const stream_options& o) {
    const profile_format format = o.format == "json" ? profile_format::json : profile_format::csv;
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    output_file out(o.out);
    interrupt_scope interrupt;
    live_line status_line(status_period, live_line::at_end::clear);
    if (format == profile_format::csv) out.write(profile_csv_heading());

    vorex_profile profile;
    std::uint64_t received = 0, malformed = 0, points = 0;
    const auto start = clock::now();
    auto last_datagram = start;
    port_drops dropped(sensor->info().data_port);
    auto status = [&](bool final = false) {
        const double elapsed = seconds_since(start);
        return stream_status(elapsed > 0 ? static_cast<double>(received) / elapsed : 0,
                             received ? static_cast<double>(points) / static_cast<double>(received) : 0, malformed,
                             received, dropped.since_start(final));
    };
    while (!interrupted && (o.count == 0 || received < o.count) && (o.duration <= 0 || seconds_since(start) < o.duration)) {
        const std::uint64_t refused = malformed;
        const bool accepted = next_profile(*sensor, profile, malformed);
        if (accepted) {
            out.write(format == profile_format::csv ? profile_csv(received, profile) : profile_json(received, profile));
            ++received;
            points += profile.points.size();
        }
        if (accepted || malformed != refused) last_datagram = clock::now();
        if (seconds_since(last_datagram) >= o.idle)
            fail("no profile for " + number_text(o.idle) + " s (" + std::to_string(received) + " received)");
        status_line.show(status());
    }
    out.finish();
    status_line.clear();
    std::fprintf(stderr, "%s\n", status(true).c_str());
    if (received == 0) fail("no profile received");
}

struct plot_options {
    selector_options sensor;
    std::string out;
    double wait = 5;
};

void run_plot(const plot_options& o) {
    const file_kind kind = kind_of(o.out);
    if (kind != file_kind::svg && kind != file_kind::png) usage_error("--out must name a .svg or .png file: " + o.out);
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    vorex_profile profile;
    std::uint64_t malformed = 0;
    const auto start = clock::now();
    while (!next_profile(*sensor, profile, malformed))
        if (seconds_since(start) >= o.wait)
            fail("no profile within " + number_text(o.wait) + " s (" + std::to_string(malformed) + " malformed)");

    const std::uint32_t serial = sensor->info().serial;
    const std::string caption = "sensor " + std::to_string(serial) + ", profile type " +
                                std::to_string(profile.header.data_type) + ", " +
                                std::to_string(profile.points.size()) + " points";
    std::string error;
    bool written;
    if (kind == file_kind::svg) {
        written = write_file(o.out, plot_svg(profile.points, caption), &error);
    } else {
        std::vector<std::uint8_t> png;
        written = encode_png(plot_picture(profile.points), &png, &error) && write_file(o.out, png, &error);
    }
    if (!written) fail(error);
    std::printf("%s: %s\n", o.out.c_str(), caption.c_str());
}

struct image_options {
    selector_options sensor;
    std::string out;
};

void run_image(const image_options& o) {
    const file_kind kind = kind_of(o.out);
    if (kind != file_kind::png && kind != file_kind::pgm) usage_error("--out must name a .png or .pgm file: " + o.out);
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    grey_image picture(image_width, image_height, 0);
    static_assert(image_bytes == static_cast<std::size_t>(image_width) * image_height, "one byte a pixel");
    if (!sensor->get_image(picture.pixels.data())) operation_failed(*sensor, "get_image");

    std::string error;
    std::vector<std::uint8_t> file;
    if (kind == file_kind::pgm) file = encode_pgm(picture);
    else if (!encode_png(picture, &file, &error)) fail(error);
    if (!write_file(o.out, file, &error)) fail(error);
    std::printf("%s: %d x %d, 8-bit grey\n", o.out.c_str(), image_width, image_height);
}

}  // namespace

void add_data_commands(CLI::App& app, command_registry& registry) {
    auto stream = std::make_shared<stream_options>();
    CLI::App* s = app.add_subcommand("stream", "Receive profiles and write their points as CSV or JSON lines");
    add_selector_options(*s, stream->sensor);
    s->add_option("--count", stream->count, "Stop after this many profiles (0: no limit)")->check(non_negative_count());
    s->add_option("--duration", stream->duration, "Stop after this many seconds (0: no limit)")
        ->check(non_negative_number());
    s->add_option("--idle", stream->idle, "Fail when no datagram arrives for this many seconds")
        ->check(positive_number())
        ->capture_default_str();
    s->add_option("--out", stream->out, "Write to this file instead of standard output");
    s->add_option("--format", stream->format, "csv: profile,x,z per point; json: one object per profile")
        ->check(CLI::IsMember({"csv", "json"}))
        ->capture_default_str();
    registry.add(s, [stream] { run_stream(*stream); });

    auto plot = std::make_shared<plot_options>();
    CLI::App* p = app.add_subcommand("plot", "Capture one profile and draw it (X across, Z growing downward away from the sensor, in mm)");
    add_selector_options(*p, plot->sensor);
    p->add_option("--out", plot->out, "The picture: NAME.svg or NAME.png")->required();
    p->add_option("--wait", plot->wait, "Seconds to wait for a profile")->check(positive_number())->capture_default_str();
    registry.add(p, [plot] { run_plot(*plot); });

    auto image = std::make_shared<image_options>();
    CLI::App* i = app.add_subcommand("image", "Fetch the sensor's 648 x 488 grey image");
    add_selector_options(*i, image->sensor);
    i->add_option("--out", image->out, "The picture: NAME.png or NAME.pgm")->required();
    registry.add(i, [image] { run_image(*image); });
}

}  // namespace vorexctl
