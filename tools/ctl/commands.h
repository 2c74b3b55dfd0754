// The subcommands, by family. Each adds its subcommands to the app and
// registers what they run.
#ifndef VOREXCTL_COMMANDS_H
#define VOREXCTL_COMMANDS_H

#include "session.h"

namespace vorexctl {

void add_discovery_commands(CLI::App& app, command_registry& registry);    // search, info
void add_data_commands(CLI::App& app, command_registry& registry);         // stream, plot, image
void add_scan_command(CLI::App& app, command_registry& registry);         // scan
void add_params_commands(CLI::App& app, command_registry& registry);       // params ..., reboot
void add_maintenance_commands(CLI::App& app, command_registry& registry);  // firmware ..., log
void add_view_command(CLI::App& app, command_registry& registry);          // view
void add_record_command(CLI::App& app, command_registry& registry);        // record
void add_doctor_command(CLI::App& app, command_registry& registry);        // doctor

}  // namespace vorexctl

#endif
