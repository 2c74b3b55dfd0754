// One sensor: its session, its DDS participant and writers, and the loop
// that takes each profile as it arrives and publishes it.
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>

#include "bridge.h"
#include "dds.h"
#include "diagnostic_msgs/msg/DiagnosticArray.h"
#include "health.h"
#include "messages.h"
#include "udp_table.h"

namespace vorex_bridge {

namespace {

constexpr auto report_period = std::chrono::seconds(1);
constexpr auto reconnect_period = std::chrono::seconds(1);

wall_time wall_now() { return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now()); }

struct library_lifetime {
    library_lifetime() { vorex::init(); }
    ~library_lifetime() { vorex::cleanup(); }
    library_lifetime(const library_lifetime&) = delete;
    library_lifetime& operator=(const library_lifetime&) = delete;
};

class worker {
public:
    worker(const bridge_options& o, const vorex_device_info_t& record)
        : options_(o),
          dds_(o.domain),
          topics_(topics_for(record.serial)),
          points_out_(dds_, &sensor_msgs_msg_dds__PointCloud2__desc, topics_.points, data_delivery(), o.depth),
          info_out_(dds_, &vorex_msgs_msg_dds__DeviceInfo__desc, topics_.device_info, delivery::latched, 1),
          health_out_(dds_, &diagnostic_msgs_msg_dds__DiagnosticArray__desc, diagnostics_topic, delivery::reliable, 10),
          session_(&record, 0),
          cloud_(frame_id_for(o.frame_id, record.serial)),
          image_(frame_id_for(o.frame_id, record.serial)) {
        // No image topic at all unless images are asked for.
        if (o.image_period > 0) image_out_.emplace(dds_, &sensor_msgs_msg_dds__Image__desc, topics_.image, data_delivery(), o.depth);
        health_.serial = record.serial;
        const device_info info(record);
        info_out_.write(&info.message());
    }

    void run() {
        const auto start = steady::now();
        next_report_ = start + report_period;
        next_image_ = start;
        while (!stopping) {
            const auto now = steady::now();
            if (!health_.connected && now >= next_connect_) try_connect(now);
            if (health_.connected) take_profile();
            else wait_as_a_receive();
            if (image_out_ && health_.connected && steady::now() >= next_image_) take_image();
            if (steady::now() >= next_report_) report();
        }
        session_.disconnect();
    }

private:
    delivery data_delivery() const { return options_.reliable ? delivery::reliable : delivery::sensor_data; }

    void try_connect(steady::time_point now) {
        next_connect_ = now + reconnect_period;
        session_.disconnect();
        if (!session_.connect()) {
            health_.last_error = session_.error_msg();
            return;
        }
        health_.connected = true;
        health_.last_profile = now;
        drops_at_connect_ = vorexctl::own_drops_on_port(session_.info().data_port);
    }

    void take_profile() {
        wall_time received;
        if (session_.get_result(profile_, received)) {
            points_out_.write(&cloud_.fill(profile_, received));
            ++health_.profiles;
            health_.last_profile = steady::now();
            return;
        }
        const std::string why = session_.error_msg();
        if (why == "Malformed packet") {
            ++health_.malformed;
            health_.last_error = why;
        }
    }

    void take_image() {
        const auto period = std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(options_.image_period));
        next_image_ = steady::now() + period;
        if (session_.get_image(image_.pixels())) image_out_->write(&image_.stamp(wall_now()));
        else health_.last_error = "no complete image";
    }

    // Nothing to receive from: wait as a receive would.
    static void wait_as_a_receive() { usleep(100 * 1000); }

    void report() {
        const auto now = steady::now();
        const double seconds = std::chrono::duration<double>(now - (next_report_ - report_period)).count();
        next_report_ = now + report_period;
        if (health_.connected && drops_at_connect_ >= 0) {
            const std::int64_t drops = vorexctl::own_drops_on_port(session_.info().data_port);
            health_.kernel_drops = drops >= 0 ? drops - drops_at_connect_ : -1;
        }
        health_.profiles_per_second = seconds > 0 ? static_cast<double>(health_.profiles - profiles_at_report_) / seconds : 0;
        const bool trouble = health_.malformed != malformed_at_report_ || health_.kernel_drops > drops_at_report_;
        profiles_at_report_ = health_.profiles;
        malformed_at_report_ = health_.malformed;
        drops_at_report_ = health_.kernel_drops;
        health_out_.write(&report_.fill(health_, now, trouble, wall_now()));
    }

    const bridge_options& options_;
    library_lifetime library_;
    participant dds_;
    sensor_topics topics_;
    writer points_out_, info_out_, health_out_;
    std::optional<writer> image_out_;
    vorex session_;
    vorex_profile profile_;
    point_cloud cloud_;
    camera_image image_;
    sensor_health health_;
    health_report report_;
    steady::time_point next_connect_{}, next_report_{}, next_image_{};
    std::int64_t drops_at_connect_ = -1, drops_at_report_ = 0;
    std::uint64_t profiles_at_report_ = 0, malformed_at_report_ = 0;
};

}  // namespace

int run_worker(const bridge_options& o, const vorex_device_info_t& record) {
    // A worker whose supervisor is gone stops too.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::unique_ptr<worker> w;
    try {
        w = std::make_unique<worker>(o, record);
    } catch (const dds_failure& e) {
        std::fprintf(stderr, "vorex-bridge: s%u: %s\n", record.serial, e.what());
        return 1;
    }
    w->run();
    return 0;
}

}  // namespace vorex_bridge
