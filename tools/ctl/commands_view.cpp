// view: a read-only web page with the live profile, the running figures,
// the device record and the camera image on request.
//
// One thread receives profiles and only ever publishes the latest one as
// an immutable snapshot; the HTTP threads read snapshots and never hold up
// reception. The image comes through the service channel (its own lock in
// the library), so fetching it leaves profile reception running.
#include <httplib.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "commands.h"
#include "failure_text.h"
#include "format.h"
#include "height_map.h"
#include "picture.h"
#include "plot.h"
#include "view_page.h"
#include "view_server.h"

namespace vorexctl {

namespace {

using clock = std::chrono::steady_clock;
using json = nlohmann::json;

const char* const malformed_text = "Malformed packet";
constexpr auto longest_wait = std::chrono::milliseconds(1000);  // a /profile request waits at most this
constexpr auto rate_window = std::chrono::milliseconds(500);
constexpr auto image_interval = std::chrono::milliseconds(1000);  // the sensor is asked at most this often
constexpr std::size_t waterfall_rows = 300;     // the profiles the waterfall keeps, one pixel row each
constexpr std::size_t waterfall_columns = 400;  // its width in pixels

// The waterfall's columns, fixed by the first profile it shows: its X
// extent over the panel's width.
struct waterfall_grid {
    double x_min = 0;
    double x_step = 1;
    double bridge = 0;
};

// One received profile. The JSON a browser gets is made once, by the
// first request that wants it, not by the receiving thread.
struct profile_snapshot {
    std::uint64_t sequence = 0;  // 1 for the first profile received
    int data_type = 0;
    std::vector<vorex_point_t> points;

    const std::string& json_text() const {
        std::call_once(made_, [this] { text_ = make_json(); });
        return text_;
    }
    // The profile as one waterfall row, made by the first request that
    // wants it (the grid never changes once chosen).
    const std::vector<float>& waterfall_row(const waterfall_grid& g) const {
        std::call_once(row_made_, [&] {
            row_.resize(waterfall_columns);
            vorex_scan::row_grid(g.x_min, g.x_step, waterfall_columns, g.bridge).fill(points, row_.data());
        });
        return row_;
    }

private:
    std::string make_json() const {
        const plot_layout layout = layout_for(points);
        auto axis = [](const plot_axis& a) {
            return json{{"min", a.min}, {"max", a.max}, {"step", a.step}, {"ticks", a.ticks}};
        };
        json pts = json::array();
        for (const vorex_point_t& p : points) pts.push_back({p.x, p.z});
        return json{{"sequence", sequence}, {"data_type", data_type}, {"x", axis(layout.x)},
                    {"z", axis(layout.z)},   {"points", std::move(pts)}}
            .dump();
    }
    mutable std::once_flag made_;
    mutable std::string text_;
    mutable std::once_flag row_made_;
    mutable std::vector<float> row_;
};

// The latest profile and the running figures, written by the receiving
// thread and read by any number of HTTP threads.
class profile_feed {
public:
    void publish(std::shared_ptr<const profile_snapshot> s) {
        std::shared_ptr<const profile_snapshot> oldest;  // freed after the lock, if this held it last
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (recent_.size() == waterfall_rows) {
                oldest = std::move(recent_.front());
                recent_.pop_front();
            }
            recent_.push_back(s);
            latest_ = std::move(s);
        }
        arrived_.notify_all();
    }
    // The kept profiles newer than `after`, oldest first, once one is
    // there or `limit` has passed.
    std::vector<std::shared_ptr<const profile_snapshot>> recent_after(std::uint64_t after,
                                                                      std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, limit, [&] { return stopping_ || (latest_ && latest_->sequence > after); });
        std::vector<std::shared_ptr<const profile_snapshot>> out;
        for (const auto& s : recent_)
            if (s->sequence > after) out.push_back(s);
        return out;
    }
    // The latest profile if it is newer than `after`, waiting for one up to
    // `limit`; null when none came (or the viewer is stopping).
    std::shared_ptr<const profile_snapshot> newer_than(std::uint64_t after, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, limit, [&] { return stopping_ || (latest_ && latest_->sequence > after); });
        return latest_ && latest_->sequence > after ? latest_ : nullptr;
    }
    void stop() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
        }
        arrived_.notify_all();
    }

    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> malformed{0};
    std::atomic<std::uint64_t> points{0};  // of the latest profile
    std::atomic<double> rate{0};           // profiles/s over the last half second

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::shared_ptr<const profile_snapshot> latest_;
    std::deque<std::shared_ptr<const profile_snapshot>> recent_;  // the last waterfall_rows
    bool stopping_ = false;
};

// The waterfall's grid, chosen from the first profile with two points or
// more that a browser's request brings.
class waterfall_columns_once {
public:
    bool grid(const profile_snapshot& s, waterfall_grid* out) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!chosen_) {
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (const vorex_point_t& p : s.points)
                if (std::isfinite(p.x) && std::isfinite(p.z)) low = std::min(low, p.x), high = std::max(high, p.x);
            if (!(high > low)) return false;
            grid_.x_min = low;
            grid_.x_step = (high - low) / (waterfall_columns - 1);
            grid_.bridge = 2.5 * std::max(vorex_scan::native_spacing(s.points), grid_.x_step);
            chosen_ = true;
        }
        *out = grid_;
        return true;
    }

private:
    std::mutex mutex_;
    bool chosen_ = false;
    waterfall_grid grid_;
};

// The rows newer than `after` as JSON: Z in mm to 0.01, null where missing.
std::string waterfall_json(const std::vector<std::shared_ptr<const profile_snapshot>>& rows, const waterfall_grid& g) {
    std::string out = "{\"last\":" + std::to_string(rows.back()->sequence) + ",\"x_min\":" + number_text(g.x_min) +
                      ",\"x_max\":" + number_text(g.x_min + g.x_step * (waterfall_columns - 1)) + ",\"rows\":[";
    char cell[24];
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += r ? ",[" : "[";
        const std::vector<float>& row = rows[r]->waterfall_row(g);
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (std::isnan(row[c])) std::snprintf(cell, sizeof cell, "%snull", c ? "," : "");
            else std::snprintf(cell, sizeof cell, "%s%.2f", c ? "," : "", static_cast<double>(row[c]));
            out += cell;
        }
        out += "]";
    }
    return out + "]}";
}

void receive_profiles(vorex& sensor, profile_feed& feed, const std::atomic<bool>& stop) {
    vorex_profile profile;
    auto mark = clock::now();
    std::uint64_t at_mark = 0;
    while (!stop) {
        if (sensor.get_result(profile)) {
            auto s = std::make_shared<profile_snapshot>();
            s->sequence = ++feed.received;
            s->data_type = profile.header.data_type;
            s->points = profile.points;
            feed.points = profile.points.size();
            feed.publish(std::move(s));
        } else if (std::strcmp(sensor.error_msg(), malformed_text) == 0) {
            ++feed.malformed;
        }
        const auto now = clock::now();
        if (now - mark >= rate_window) {
            const std::uint64_t n = feed.received;
            feed.rate = static_cast<double>(n - at_mark) / std::chrono::duration<double>(now - mark).count();
            mark = now;
            at_mark = n;
        }
    }
}

// The latest image as PNG (or why there is none), fetched from the sensor
// at most once per interval however many clients ask: every request in
// between gets the same answer.
class image_source {
public:
    explicit image_source(vorex& sensor) : sensor_(sensor) {}

    void latest(std::string* png, std::string* error) {
        // One fetch at a time: the library would queue the others behind
        // its service lock anyway.
        std::lock_guard<std::mutex> guard(mutex_);
        if (!fetched_ || clock::now() - fetched_at_ >= image_interval) {
            fetch();
            fetched_ = true;
            fetched_at_ = clock::now();
        }
        *png = png_;
        *error = error_;
    }

private:
    void fetch() {
        std::vector<std::uint8_t> png;
        grey_image picture(image_width, image_height, 0);
        error_.clear();
        if (!sensor_.get_image(picture.pixels.data()))
            error_ = "get_image failed: " + failure_reason("get_image", sensor_.error_msg());
        else if (!encode_png(picture, &png, &error_)) error_ = "cannot encode the image: " + error_;
        png_.assign(png.begin(), png.end());
    }

    vorex& sensor_;
    std::mutex mutex_;
    bool fetched_ = false;
    clock::time_point fetched_at_{};
    std::string png_, error_;
};

struct view_options {
    selector_options sensor;
    view_access access{"127.0.0.1", {}, {}};
    int port = 8648;
};

// The page's answers. Only GET is routed: nothing a browser sends can
// change the sensor.
void route(httplib::Server& server, vorex& sensor, profile_feed& feed, image_source& images,
           waterfall_columns_once& columns) {
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(view_page, "text/html; charset=utf-8");
    });
    server.Get("/profile", [&feed](const httplib::Request& req, httplib::Response& res) {
        std::uint64_t after = 0;
        if (req.has_param("after")) after = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
        const auto s = feed.newer_than(after, longest_wait);
        if (!s) {
            res.status = 204;
            return;
        }
        res.set_content(s->json_text(), "application/json");
    });
    server.Get("/waterfall", [&feed, &columns](const httplib::Request& req, httplib::Response& res) {
        std::uint64_t after = 0;
        if (req.has_param("after")) after = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
        const auto rows = feed.recent_after(after, longest_wait);
        waterfall_grid g;
        if (rows.empty() || !columns.grid(*rows.front(), &g)) {
            res.status = 204;
            return;
        }
        res.set_content(waterfall_json(rows, g), "application/json");
    });
    server.Get("/figures", [&feed](const httplib::Request&, httplib::Response& res) {
        const json f{{"received", feed.received.load()},
                     {"malformed", feed.malformed.load()},
                     {"points", feed.points.load()},
                     {"rate", feed.rate.load()}};
        res.set_content(f.dump(), "application/json");
    });
    server.Get("/device", [&sensor](const httplib::Request&, httplib::Response& res) {
        res.set_content(sensor_json(sensor.info()), "application/json");
    });
    server.Get("/image.png", [&images](const httplib::Request&, httplib::Response& res) {
        std::string png, error;
        images.latest(&png, &error);
        if (!error.empty()) {
            res.status = 502;
            res.set_content(error, "text/plain");
            return;
        }
        res.set_content(std::move(png), "image/png");
    });
}

// SIGINT and SIGTERM go to whichever thread waits for them, never to the
// receiving or HTTP threads, which inherit the blocked mask.
class blocked_signals {
public:
    blocked_signals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~blocked_signals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    blocked_signals(const blocked_signals&) = delete;
    blocked_signals& operator=(const blocked_signals&) = delete;
    void wait() const {
        int signal = 0;
        sigwait(&set_, &signal);
    }

private:
    sigset_t set_;
    sigset_t previous_;
};

void run_view(const view_options& o) {
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    blocked_signals signals;

    view_server server(view_limits{}, o.access);
    profile_feed feed;
    image_source images(*sensor);
    waterfall_columns_once columns;
    route(server, *sensor, feed, images, columns);
    const std::string& bind = o.access.bind;
    const int port = server.bind(bind, o.port);
    if (port < 0) fail("cannot listen on " + bind + ":" + std::to_string(o.port));
    if (!is_loopback(bind)) {
        std::fprintf(stderr, "vorexctl view: warning: %s is reachable from other hosts; %s\n", bind.c_str(),
                     o.access.token.empty() ? "anyone who can reach it sees the sensor (--token limits that)"
                                            : "only browsers that bring the token are answered");
    }

    std::atomic<bool> stop{false};
    std::thread receiver([&] { receive_profiles(*sensor, feed, stop); });
    std::thread http([&] { server.listen_after_bind(); });
    std::printf("vorexctl view: sensor %u on http://%s:%d/ (Ctrl-C stops)\n", static_cast<unsigned>(sensor->info().serial),
                bind.c_str(), port);
    std::fflush(stdout);

    signals.wait();
    stop = true;
    feed.stop();
    server.stop();
    http.join();
    receiver.join();
    std::printf("vorexctl view: stopped after %llu profiles (%llu malformed)\n",
                static_cast<unsigned long long>(feed.received.load()),
                static_cast<unsigned long long>(feed.malformed.load()));
}

}  // namespace

void add_view_command(CLI::App& app, command_registry& registry) {
    auto view = std::make_shared<view_options>();
    CLI::App* v = app.add_subcommand("view", "Serve a live view of the profiles, the device record and the image to browsers");
    add_selector_options(*v, view->sensor);
    v->add_option("--bind", view->access.bind, "Listen on this address (other than loopback: reachable from other hosts)")
        ->capture_default_str();
    v->add_option("--allow-host", view->access.extra_hosts,
                  "Also answer requests whose Host is this name (besides localhost, 127.0.0.1 and the address used)");
    v->add_option("--token", view->access.token,
                  "Answer only browsers that bring this token: open the page once with ?token=TOKEN, a cookie keeps it")
        ->check(CLI::Validator(
            [](const std::string& t) {
                return token_well_formed(t) ? std::string() : std::string("a token is 8 to 128 of A-Z a-z 0-9 . _ ~ -");
            },
            "TOKEN"));
    v->add_option("--port", view->port, "Listen on this TCP port (0: any free one)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    registry.add(v, [view] { run_view(*view); });
}

}  // namespace vorexctl
