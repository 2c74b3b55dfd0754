// search and info.
#include <cstdio>

#include "commands.h"
#include "format.h"

namespace vorexctl {

namespace {

struct search_options {
    bool json = false;
};

void run_search(const search_options& o) {
    library_scope library;
    std::vector<vorex_device_info_t> records;
    for (const auto& s : vorex::search()) records.push_back(s->info());
    const std::string text = o.json ? sensors_json(records) : sensor_table(records);
    std::fputs(text.c_str(), stdout);
    if (records.empty() && !o.json) std::fputs("no sensor found\n", stderr);
}

struct info_options {
    selector_options sensor;
    bool json = false;
};

void run_info(const info_options& o) {
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve(), false);
    const vorex_device_info_t& info = sensor->info();
    if (o.json) {
        std::printf("%s\n", sensor_json(info).c_str());
        return;
    }
    const std::uint32_t serial = info.serial;
    const unsigned service_port = info.service_port, data_port = info.data_port;
    const std::int32_t packet = info.image_packet_size;
    std::printf("serial:            %u\n", serial);
    std::printf("ip:                %s\n", dotted(info.ip_address).c_str());
    std::printf("mask:              %s\n", dotted(info.subnet_mask).c_str());
    std::printf("mac:               %s\n", mac_text(info.mac_address).c_str());
    std::printf("service port:      %u\n", service_port);
    std::printf("data port:         %u\n", data_port);
    std::printf("image packet size: %d%s\n", packet, packet == 0 ? " (32754)" : "");
}

}  // namespace

void add_discovery_commands(CLI::App& app, command_registry& registry) {
    auto search = std::make_shared<search_options>();
    CLI::App* s = app.add_subcommand("search", "List the sensors that answer a discovery broadcast");
    s->add_flag("--json", search->json, "Print a JSON array instead of a table");
    registry.add(s, [search] { run_search(*search); });

    auto info = std::make_shared<info_options>();
    CLI::App* i = app.add_subcommand("info", "Show the device record of one sensor");
    add_selector_options(*i, info->sensor);
    i->add_flag("--json", info->json, "Print a JSON object");
    registry.add(i, [info] { run_info(*info); });
}

}  // namespace vorexctl
