// vorex-bridge: publishes every sensor's profiles, images, health and
// device record on DDS as ROS 2 topics.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "bridge.h"
#include "messages.h"
#include "option_checks.h"


namespace {

std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string this_program(const char* argv0) {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return argv0;
    return std::string(path, static_cast<std::size_t>(n));
}

}  // namespace

int main(int argc, char** argv) {
    using vorexctl::number_range;
    using vorexctl::whole_range;
    CLI::App app{"vorex-bridge: publishes network laser profile sensors on DDS as ROS 2 topics.\n"
                 "Searches every second and runs one worker process per sensor, each with its own DDS\n"
                 "participant, so that a silent sensor holds up no other. Per sensor s<serial>:\n"
                 "  /vorex/s<serial>/points       sensor_msgs/PointCloud2, x y z float32 in metres (y = 0),\n"
                 "                                stamped when the datagram reached the host; best effort\n"
                 "  /vorex/s<serial>/image        sensor_msgs/Image mono8 648x488, every --image-period s\n"
                 "  /vorex/s<serial>/device_info  vorex_msgs/DeviceInfo, latched (transient local)\n"
                 "  /diagnostics                  diagnostic_msgs/DiagnosticArray once a second, reliable\n"
                 "DDS topics are rt/<ROS name>; Cyclone DDS reads its configuration, the network interface\n"
                 "among it, from CYCLONEDDS_URI. SIGTERM or Ctrl-C stops every worker and exits 0; a DDS\n"
                 "failure at the start exits 1."};
    vorex_bridge::bridge_options o;
    o.frame_id = vorex_bridge::default_frame_id;
    int domain = -1;
    std::string worker_record;
    app.set_version_flag("--version", std::string("vorex-bridge ") + VOREX_PACKAGE_VERSION);
    app.add_option("--serial", o.serials, "Publish only the sensor with this serial (repeatable; default: every sensor found)")
        ->check(whole_range("0..4294967295", 0, 4294967295.0));
    app.add_option("--frame-id", o.frame_id, "header.frame_id of points and images; {serial} stands for the serial")
        ->capture_default_str();
    app.add_option("--image-period", o.image_period, "Seconds between images (0: no images)")
        ->check(number_range("0..86400", 0, 86400))
        ->capture_default_str();
    app.add_option("--domain", domain, "DDS domain id (default: CYCLONEDDS_URI's, else 0)")->check(whole_range("0..232", 0, 232));
    app.add_option("--depth", o.depth, "Keep-last depth of points and images")
        ->check(whole_range("1..100000", 1, 100000))
        ->capture_default_str();
    app.add_flag("--reliable", o.reliable, "Send points and images reliably rather than best effort");
    app.add_option("--worker-record", worker_record, "")->group("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "vorex-bridge: %s\n", one_line(e.what()).c_str());
        return 2;
    }
    if (domain >= 0) o.domain = static_cast<dds_domainid_t>(domain);
    vorex_bridge::stop_on_signals();
    if (!worker_record.empty()) {
        vorex_device_info_t record{};
        if (!vorex_bridge::parse_record_hex(worker_record, &record)) {
            std::fprintf(stderr, "vorex-bridge: --worker-record: not a device record\n");
            return 2;
        }
        return vorex_bridge::run_worker(o, record);
    }
    return vorex_bridge::run_supervisor(o, this_program(argv[0]));
}
