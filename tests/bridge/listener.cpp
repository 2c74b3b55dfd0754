// The subscriber of the bridge's end-to-end tests: a plain DDS program on
// the same IDL, as any ROS 2 node would be. It takes every sensor's points,
// diagnostics and device record, compares each cloud with the library's
// own decode of the simulator's datagram it must have come from, and
// prints one line per event and a report per sensor. Exit 0 when every
// check held, 1 otherwise.
//
// bridge_listener --serial S... --profiles N --since NS --limit SECONDS
//                 [--duration SECONDS] [--reliable] [--lossless] [--expect-image S] [--expect-stale S] [--expect-restart S]... [--data-type T]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "data/profile_decode.h"
#include "dds/dds.h"
#include "diagnostic_msgs/msg/DiagnosticArray.h"
#include "sensor_msgs/msg/Image.h"
#include "sensor_msgs/msg/PointCloud2.h"
#include "sim/device_model.h"
#include "sim/sensor_sim.h"
#include "vorex_msgs/msg/DeviceInfo.h"

namespace {

using wall = std::chrono::system_clock;

constexpr std::uint32_t loss_window = 4000;    // profiles a gap may span
constexpr std::uint32_t first_window = 40000;  // where a stream may start

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(wall::now().time_since_epoch()).count();
}

float load_float_le(const std::uint8_t* at) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= std::uint32_t{at[i]} << (8 * i);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Whether the cloud is, float for float, the library's decode of the
// simulator's profile `sequence` in metres.
bool cloud_is(const sensor_msgs_msg_dds__PointCloud2_& c, int data_type, std::uint32_t sequence) {
    const auto datagram = vorex_sim::make_profile(data_type, sequence);
    vorex_profile p;
    if (vorex_data::decode_profile(datagram.data(), datagram.size(), p) != vorex_data::decode_outcome::accepted)
        return false;
    if (c.width != p.points.size() || c.data._length != 12 * p.points.size()) return false;
    for (std::size_t i = 0; i < p.points.size(); ++i) {
        const std::uint8_t* at = c.data._buffer + 12 * i;
        if (load_float_le(at) != static_cast<float>(p.points[i].x / 1000.0) || load_float_le(at + 4) != 0.0f ||
            load_float_le(at + 8) != static_cast<float>(p.points[i].z / 1000.0))
            return false;
    }
    return true;
}

struct sensor_record {
    std::uint32_t serial = 0;
    bool started = false;
    std::uint32_t next = 0;          // the sequence expected next
    std::uint64_t clouds = 0, matched = 0, matched_since_event = 0, unmatched = 0, lost = 0, restarts = 0;
    std::uint64_t bad_layout = 0, stamps_back = 0, stamps_outside = 0;
    std::int64_t last_stamp = 0;
    bool stale_seen = false, recovered = false, info_seen = false;
    std::map<std::string, std::string> last_values;
    int last_level = -1;
    std::uint64_t statuses = 0;
    std::uint64_t images = 0, images_equal = 0;
    std::uint16_t info_port = 0;  // of the last device record seen
    std::uint64_t matched_at_window = 0, lost_at_window = 0;
};

struct options {
    std::vector<std::uint32_t> serials;
    std::uint64_t profiles = 100;
    std::int64_t since = 0;
    double limit = 60;
    bool lossless = false;
    std::set<std::uint32_t> expect_stale, expect_image, expect_malformed;
    std::map<std::uint32_t, std::uint64_t> expect_restarts;  // serial: restarts at least
    int data_type = 19;
    bool reliable = false;  // points taken reliably (from a bridge run with --reliable)
    double duration = 0;  // > 0: measure this long once every sensor streams, then print the figures
};

bool parse(int argc, char** argv, options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--lossless") o.lossless = true;
        else if (a == "--reliable") o.reliable = true;
        else if (!has_value) return false;
        else if (a == "--serial") o.serials.push_back(static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
        else if (a == "--profiles") o.profiles = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--since") o.since = std::strtoll(argv[++i], nullptr, 10);
        else if (a == "--limit") o.limit = std::strtod(argv[++i], nullptr);
        else if (a == "--expect-stale") o.expect_stale.insert(static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
        else if (a == "--expect-restart") ++o.expect_restarts[static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10))];
        else if (a == "--expect-image") o.expect_image.insert(static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
        else if (a == "--expect-malformed") o.expect_malformed.insert(static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
        else if (a == "--duration") o.duration = std::strtod(argv[++i], nullptr);
        else if (a == "--data-type") o.data_type = std::atoi(argv[++i]);
        else return false;
    }
    return !o.serials.empty();
}

void event(const sensor_record& s, const char* what) {
    std::printf("s%u %s\n", s.serial, what);
    std::fflush(stdout);
}

class listener {
public:
    explicit listener(const options& o) : o_(o) {
        participant_ = dds_create_participant(DDS_DOMAIN_DEFAULT, nullptr, nullptr);
        if (participant_ < 0) throw std::runtime_error(std::string("participant: ") + dds_strretcode(participant_));
        dds_qos_t* data = dds_create_qos();
        if (o.reliable) dds_qset_reliability(data, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
        else dds_qset_reliability(data, DDS_RELIABILITY_BEST_EFFORT, 0);
        dds_qset_history(data, DDS_HISTORY_KEEP_LAST, 10000);
        dds_qos_t* latched = dds_create_qos();
        dds_qset_reliability(latched, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
        dds_qset_durability(latched, DDS_DURABILITY_TRANSIENT_LOCAL);
        dds_qos_t* diagnostics = dds_create_qos();
        dds_qset_reliability(diagnostics, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
        dds_qset_history(diagnostics, DDS_HISTORY_KEEP_LAST, 100);
        for (std::uint32_t serial : o.serials) {
            const std::string base = "rt/vorex/s" + std::to_string(serial) + "/";
            sensors_[serial].serial = serial;
            points_[reader(&sensor_msgs_msg_dds__PointCloud2__desc, base + "points", data)] = serial;
            infos_.push_back(reader(&vorex_msgs_msg_dds__DeviceInfo__desc, base + "device_info", latched));
            if (o.expect_image.count(serial)) images_[reader(&sensor_msgs_msg_dds__Image__desc, base + "image", data)] = serial;
        }
        diagnostics_ = reader(&diagnostic_msgs_msg_dds__DiagnosticArray__desc, "rt/diagnostics", diagnostics);
        dds_delete_qos(data);
        dds_delete_qos(latched);
        dds_delete_qos(diagnostics);
    }
    ~listener() { dds_delete(participant_); }
    listener(const listener&) = delete;
    listener& operator=(const listener&) = delete;

    bool run() {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(o_.limit);
        while (o_.duration > 0 ? !window_over() : !done()) {
            if (std::chrono::steady_clock::now() > give_up) {
                std::printf("gave up after %.0f s\n", o_.limit);
                break;
            }
            std::size_t taken = 0;
            for (const auto& [r, serial] : points_) taken += take(r, [&](const void* s) { on_cloud(sensors_[serial], *static_cast<const sensor_msgs_msg_dds__PointCloud2_*>(s)); });
            for (const auto& [r, serial] : images_) taken += take(r, [&](const void* s) { on_image(sensors_[serial], *static_cast<const sensor_msgs_msg_dds__Image_*>(s)); });
            for (dds_entity_t r : infos_) taken += take(r, [&](const void* s) { on_info(*static_cast<const vorex_msgs_msg_dds__DeviceInfo_*>(s)); });
            taken += take(diagnostics_, [&](const void* s) { on_diagnostics(*static_cast<const diagnostic_msgs_msg_dds__DiagnosticArray_*>(s)); });
            if (taken == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return o_.duration > 0 ? figures() : report();
    }

private:
    dds_entity_t reader(const dds_topic_descriptor_t* type, const std::string& name, const dds_qos_t* q) {
        const dds_entity_t t = dds_create_topic(participant_, type, name.c_str(), nullptr, nullptr);
        const dds_entity_t r = t < 0 ? t : dds_create_reader(participant_, t, q, nullptr);
        if (r < 0) throw std::runtime_error("reader of " + name + ": " + dds_strretcode(r));
        return r;
    }

    template <typename F>
    static std::size_t take(dds_entity_t r, F&& each) {
        void* samples[64] = {};
        dds_sample_info_t infos[64];
        const dds_return_t n = dds_take(r, samples, infos, 64, 64);
        if (n <= 0) return 0;
        for (int i = 0; i < n; ++i)
            if (infos[i].valid_data) each(samples[i]);
        dds_return_loan(r, samples, n);
        return static_cast<std::size_t>(n);
    }

    void on_cloud(sensor_record& s, const sensor_msgs_msg_dds__PointCloud2_& c) {
        const std::int64_t arrived = now_ns();
        ++s.clouds;
        const auto& f = c.fields;
        const bool layout = c.height == 1 && c.point_step == 12 && c.row_step == 12 * c.width && !c.is_bigendian &&
                            c.is_dense && f._length == 3 && std::strcmp(f._buffer[0].name, "x") == 0 &&
                            std::strcmp(f._buffer[1].name, "y") == 0 && std::strcmp(f._buffer[2].name, "z") == 0 &&
                            f._buffer[0].offset == 0 && f._buffer[1].offset == 4 && f._buffer[2].offset == 8 &&
                            f._buffer[0].datatype == 7 && f._buffer[1].datatype == 7 && f._buffer[2].datatype == 7 &&
                            std::strcmp(c.header.frame_id, ("vorex_s" + std::to_string(s.serial)).c_str()) == 0;
        if (!layout) ++s.bad_layout;
        const std::int64_t stamp = std::int64_t{c.header.stamp.sec} * 1000000000 + c.header.stamp.nanosec;
        if (stamp <= s.last_stamp) ++s.stamps_back;
        if (stamp < o_.since || stamp > arrived) ++s.stamps_outside;
        if (window_open_) {
            latencies_.push_back(arrived - stamp);
            bytes_ += c.data._length;
        }
        s.last_stamp = stamp;
        identify(s, c);
    }

    // Finds which profile the cloud is: the expected one, one after a gap,
    // or one of a stream that started again.
    void identify(sensor_record& s, const sensor_msgs_msg_dds__PointCloud2_& c) {
        if (s.started && cloud_is(c, o_.data_type, s.next)) return matched(s, s.next);
        if (s.started)
            for (std::uint32_t q = s.next + 1; q < s.next + loss_window; ++q)
                if (cloud_is(c, o_.data_type, q)) {
                    s.lost += q - s.next;
                    return matched(s, q);
                }
        for (std::uint32_t q = 0; q < first_window; ++q)
            if (cloud_is(c, o_.data_type, q)) {
                if (s.started) {
                    ++s.restarts;
                    s.matched_since_event = 0;
                    event(s, "restarted");
                } else {
                    event(s, "first");
                }
                s.started = true;
                return matched(s, q);
            }
        ++s.unmatched;
    }

    void matched(sensor_record& s, std::uint32_t sequence) {
        ++s.matched;
        ++s.matched_since_event;
        s.next = sequence + 1;
    }

    static void on_image(sensor_record& s, const sensor_msgs_msg_dds__Image_& m) {
        ++s.images;
        const auto& expected = vorex_sim::synthetic_image();
        if (m.width == 648 && m.height == 488 && m.step == 648 && std::strcmp(m.encoding, "mono8") == 0 &&
            m.data._length == expected.size() && std::memcmp(m.data._buffer, expected.data(), expected.size()) == 0)
            ++s.images_equal;
    }

    void on_info(const vorex_msgs_msg_dds__DeviceInfo_& info) {
        const auto it = sensors_.find(info.serial);
        if (it == sensors_.end() || it->second.info_port == info.data_port) return;
        it->second.info_port = info.data_port;
        it->second.info_seen = info.data_port != 0 && std::strlen(info.ip_address) >= 7 && std::strlen(info.mac_address) == 17;
        std::printf("s%u device_info %s %s %s data port %u\n", info.serial, info.ip_address, info.subnet_mask,
                    info.mac_address, info.data_port);
        std::fflush(stdout);
    }

    void on_diagnostics(const diagnostic_msgs_msg_dds__DiagnosticArray_& a) {
        for (std::uint32_t i = 0; i < a.status._length; ++i) {
            const auto& st = a.status._buffer[i];
            const std::string hw = st.hardware_id;
            if (hw.rfind("vorex_s", 0) != 0) continue;
            const auto it = sensors_.find(static_cast<std::uint32_t>(std::strtoul(hw.c_str() + 7, nullptr, 10)));
            if (it == sensors_.end()) continue;
            sensor_record& s = it->second;
            ++s.statuses;
            s.last_level = st.level;
            for (std::uint32_t k = 0; k < st.values._length; ++k)
                s.last_values[st.values._buffer[k].key] = st.values._buffer[k].value;
            if (st.level == 3 && !s.stale_seen) {
                s.stale_seen = true;
                s.matched_since_event = 0;
                event(s, "stale");
            } else if (st.level == 0 && s.stale_seen && !s.recovered) {
                s.recovered = true;
                event(s, "recovered");
            }
        }
    }

    bool sensor_done(const sensor_record& s) const {
        if (s.matched_since_event < o_.profiles || !s.info_seen || s.statuses == 0) return false;
        if (o_.expect_stale.count(s.serial) && !s.recovered) return false;
        if (o_.expect_image.count(s.serial) && s.images_equal == 0) return false;
        const auto restarts = o_.expect_restarts.find(s.serial);
        if (restarts != o_.expect_restarts.end() && s.restarts < restarts->second) return false;
        // A sensor flooded with junk streams on, with a warning.
        return s.last_level == (o_.expect_malformed.count(s.serial) ? 1 : 0);
    }

    bool done() const {
        for (const auto& [serial, s] : sensors_)
            if (!sensor_done(s)) return false;
        return true;
    }

    // The measuring window opens when every sensor has streamed.
    bool window_over() {
        const auto now = std::chrono::steady_clock::now();
        if (!window_open_) {
            for (const auto& [serial, s] : sensors_)
                if (!s.started) return false;
            window_open_ = true;
            window_end_ = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(o_.duration));
            for (auto& [serial, s] : sensors_) {
                s.matched_at_window = s.matched;
                s.lost_at_window = s.lost;
            }
            return false;
        }
        return now >= window_end_;
    }

    // One line of figures over the window: clouds, lost, latency from the
    // datagram's arrival at the bridge's host to its delivery here.
    bool figures() {
        std::uint64_t clouds = 0, lost = 0, unmatched = 0;
        for (const auto& [serial, s] : sensors_) {
            clouds += s.matched - s.matched_at_window;
            lost += s.lost - s.lost_at_window;
            unmatched += s.unmatched;
        }
        std::sort(latencies_.begin(), latencies_.end());
        auto at = [&](double q) {
            return latencies_.empty() ? 0.0 : static_cast<double>(latencies_[static_cast<std::size_t>(q * static_cast<double>(latencies_.size() - 1))]) / 1000.0;
        };
        std::printf("figures: seconds %.1f clouds %llu lost %llu unmatched %llu latency_us_median %.0f latency_us_p99 %.0f "
                    "cloud_bytes %.0f\n",
                    o_.duration, (unsigned long long)clouds, (unsigned long long)lost, (unsigned long long)unmatched,
                    at(0.5), at(0.99), latencies_.empty() ? 0.0 : static_cast<double>(bytes_) / static_cast<double>(latencies_.size()));
        std::fflush(stdout);
        return unmatched == 0;
    }

    bool report() const {
        bool ok = true;
        for (const auto& [serial, s] : sensors_) {
            auto value = [&](const char* key) {
                const auto it = s.last_values.find(key);
                return it == s.last_values.end() ? std::string("-") : it->second;
            };
            // A sensor that went silent catches up in a burst when it wakes, which
            // its own kernel buffer may not hold: losslessness is asked of the others.
            const bool lossless = o_.lossless && !o_.expect_stale.count(serial);
            // Delivered reliably, every profile missing here is one the kernel
            // dropped before the bridge took it, and the bridge counts those.
            const bool drops_told = !o_.reliable || value("kernel_drops") == std::to_string(s.lost);
            const bool malformed_told = o_.expect_malformed.count(serial)
                                            ? std::strtoull(value("malformed").c_str(), nullptr, 10) > 0 &&
                                                  value("last_error") == "Malformed packet"
                                            : value("malformed") == "0";
            const bool good = sensor_done(s) && drops_told && s.unmatched == 0 && s.bad_layout == 0 && s.stamps_back == 0 &&
                              s.stamps_outside == 0 && s.images == s.images_equal && (!lossless || s.lost == 0) && malformed_told &&
                              value("connected") == "true" && (!lossless || value("kernel_drops") == "0") &&
                              std::strtoull(value("profiles").c_str(), nullptr, 10) >= 1;
            std::printf("s%u %s: clouds %llu, equal to the decode %llu, unmatched %llu, lost %llu, restarts %llu, "
                        "bad layout %llu, stamps not increasing %llu, stamps outside the arrival window %llu; "
                        "diagnostics %llu (last level %d, profiles %s, profiles/s %s, malformed %s, kernel drops %s, "
                        "stale seen %s); images %llu, equal %llu; device_info %s\n",
                        serial, good ? "ok" : "FAILED", (unsigned long long)s.clouds, (unsigned long long)s.matched,
                        (unsigned long long)s.unmatched, (unsigned long long)s.lost, (unsigned long long)s.restarts,
                        (unsigned long long)s.bad_layout, (unsigned long long)s.stamps_back,
                        (unsigned long long)s.stamps_outside, (unsigned long long)s.statuses, s.last_level,
                        value("profiles").c_str(), value("profiles_per_second").c_str(), value("malformed").c_str(),
                        value("kernel_drops").c_str(), s.stale_seen ? "yes" : "no", (unsigned long long)s.images,
                        (unsigned long long)s.images_equal, s.info_seen ? "yes" : "no");
            ok = ok && good;
        }
        std::fflush(stdout);
        return ok;
    }

    const options& o_;
    dds_entity_t participant_;
    std::map<std::uint32_t, sensor_record> sensors_;
    std::map<dds_entity_t, std::uint32_t> points_, images_;
    std::vector<dds_entity_t> infos_;
    dds_entity_t diagnostics_ = 0;
    bool window_open_ = false;
    std::chrono::steady_clock::time_point window_end_{};
    std::vector<std::int64_t> latencies_;
    std::uint64_t bytes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: bridge_listener --serial S... [--profiles N] [--since NS] [--limit S] "
                             "[--lossless] [--expect-image S] [--expect-malformed S] [--expect-stale S] [--expect-restart S] "
                             "[--duration S] [--reliable] [--data-type T]\n");
        return 2;
    }
    try {
        listener l(o);
        return l.run() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bridge_listener: %s\n", e.what());
        return 1;
    }
}
