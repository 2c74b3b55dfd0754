// vorexctl: discover network laser profile sensors and work with one of
// them from the command line. Exit status: 0 done, 1 an operation failed,
// 2 the command line was wrong.
#include <cstdio>

#include "commands.h"
#include "files.h"

namespace {

// Messages carry names from elsewhere (files, the sensor's answers):
// what could drive the terminal is shown escaped.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return vorexctl::printable(text);
}

// Names the commands the user could have chosen below the deepest command
// given ("params: choose one of get, set, flush").
std::string missing_command(const CLI::App& app) {
    const CLI::App* at = &app;
    for (bool deeper = true; deeper;) {
        deeper = false;
        for (const CLI::App* sub : at->get_subcommands({}))
            if (sub->parsed()) {
                at = sub;
                deeper = true;
                break;
            }
    }
    std::string names;
    for (const CLI::App* sub : at->get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
    return (at == &app ? std::string("choose a command: ") : at->get_name() + ": choose one of ") + names;
}

std::string version_text() {
    char text[96];
    std::snprintf(text, sizeof text, "vorexctl %s (library version 0x%08x)", VOREX_PACKAGE_VERSION, vorex::version());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorexctl;
    CLI::App app{"vorexctl: find network laser profile sensors and work with one of them.\n"
                 "Commands other than search take --serial, --ip or --mac to choose a sensor; without\n"
                 "them they use the only sensor found. Exit status: 0 ok, 1 operation failed, 2 a wrong command\n"
                 "line or an input file that cannot be used."};
    app.set_version_flag("--version", version_text());
    app.require_subcommand(0, 1);
    command_registry registry;
    add_discovery_commands(app, registry);
    add_data_commands(app, registry);
    add_scan_command(app, registry);
    add_params_commands(app, registry);
    add_maintenance_commands(app, registry);
    add_view_command(app, registry);
    add_record_command(app, registry);
    add_doctor_command(app, registry);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end parsing without an error.
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "vorexctl: %s\n", one_line(e.what()).c_str());
        return exit_usage;
    }
    try {
        const auto run = registry.chosen();
        if (!run) usage_error(missing_command(app));
        run();
        return exit_ok;
    } catch (const command_error& e) {
        std::fprintf(stderr, "vorexctl: %s\n", one_line(e.what()).c_str());
        return e.status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorexctl: %s\n", one_line(e.what()).c_str());
        return exit_failed;
    }
}
