// params get|set|flush and reboot.
#include "commands.h"
#include "group_members.h"
#include "hexdump.h"

namespace vorexctl {

namespace {

std::vector<std::string> group_names() {
    std::vector<std::string> names;
    for (const group_entry& g : groups) names.push_back(g.name);
    return names;
}

// The named group, or the whole block when no name was given.
const group_entry& group_named(const std::string& name) {
    for (const group_entry& g : groups)
        if (name == g.name) return g;
    return whole_block;
}

bool to_stdout(const std::string& path) { return path.empty() || path == "-"; }

void add_group_option(CLI::App& command, std::string& group) {
    command.add_option("--group", group, "One parameter group instead of the whole 1400-byte block")
        ->check(CLI::IsMember(group_names()));
}

struct get_options {
    selector_options sensor;
    std::string group;
    std::string out;
    bool hex = false;
};

void run_get(const get_options& o) {
    if (!o.hex && to_stdout(o.out) && is_terminal(stdout))
        usage_error("binary parameters are not written to a terminal; give --hex or --out FILE");
    const group_entry& g = group_named(o.group);
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    std::vector<std::uint8_t> bytes(g.size);
    if (!g.read(*sensor, bytes.data())) operation_failed(*sensor, g.read_name);
    output_file out(o.out);
    if (o.hex) out.write(hex_dump(bytes.data(), bytes.size()));
    else out.write(bytes.data(), bytes.size());
    out.finish();
}

struct set_options {
    selector_options sensor;
    std::string group;
    std::string in;
    bool hex = false;
    bool flush = false;
};

void run_set(const set_options& o) {
    const group_entry& g = group_named(o.group);
    const std::string contents = read_input(o.in);
    std::vector<std::uint8_t> bytes(contents.begin(), contents.end());
    std::string error;
    if (o.hex && !parse_hex_dump(contents, &bytes, &error)) usage_error(o.in + ": " + error);
    if (bytes.size() != g.size)
        usage_error(o.in + " holds " + std::to_string(bytes.size()) + " bytes; " +
                    (g.name == whole_block.name ? std::string("the block") : "the " + std::string(g.name) + " group") +
                    " takes " + std::to_string(g.size));
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    if (!g.write(*sensor, bytes.data())) operation_failed(*sensor, g.write_name);
    std::printf("%s: %zu bytes written\n", g.name, g.size);
    if (o.flush) {
        if (!sensor->flush_params()) operation_failed(*sensor, "flush_params");
        std::printf("flushed: the sensor keeps its parameters across restarts\n");
    }
}

// A command that is one call on the session and a line saying it worked.
void add_simple(CLI::App& parent, command_registry& registry, const char* name, const char* help,
                bool (vorex::*operation)(), const char* operation_name, const char* done) {
    auto sensor_options = std::make_shared<selector_options>();
    CLI::App* c = parent.add_subcommand(name, help);
    add_selector_options(*c, *sensor_options);
    registry.add(c, [=] {
        library_scope library;
        const auto sensor = open_sensor(sensor_options->resolve());
        if (!((*sensor).*operation)()) operation_failed(*sensor, operation_name);
        std::printf("%s\n", done);
    });
}

}  // namespace

void add_params_commands(CLI::App& app, command_registry& registry) {
    CLI::App* params = app.add_subcommand("params", "Read or write the sensor's user parameters");
    params->require_subcommand(0, 1);

    auto get = std::make_shared<get_options>();
    CLI::App* g = params->add_subcommand("get", "Read the block or one group: binary, or a hex dump with --hex");
    add_selector_options(*g, get->sensor);
    add_group_option(*g, get->group);
    g->add_option("--out", get->out, "Write to this file instead of standard output");
    g->add_flag("--hex", get->hex, "Write a hex dump (offset: 16 bytes a line)");
    registry.add(g, [get] { run_get(*get); });

    auto set = std::make_shared<set_options>();
    CLI::App* s = params->add_subcommand("set", "Write the block or one group from a binary file or a hex dump");
    add_selector_options(*s, set->sensor);
    add_group_option(*s, set->group);
    s->add_option("--in", set->in, "The bytes to write; - reads standard input")->required();
    s->add_flag("--hex", set->hex, "The input is a hex dump");
    s->add_flag("--flush", set->flush, "Then make the sensor keep its parameters across restarts");
    registry.add(s, [set] { run_set(*set); });

    add_simple(*params, registry, "flush", "Make the sensor keep its parameters across restarts", &vorex::flush_params,
               "flush_params", "flushed");
    add_simple(app, registry, "reboot", "Restart the sensor", &vorex::reboot, "reboot", "rebooting");
}

}  // namespace vorexctl
