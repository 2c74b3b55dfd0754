// firmware upload|commit and log.
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "commands.h"
#include "failure_text.h"
#include "format.h"
#include "option_checks.h"
#include "progress.h"

namespace vorexctl {

namespace {

using clock = std::chrono::steady_clock;

// The most records one read_log call can carry.
constexpr unsigned log_run = 240;

void commit_firmware(vorex& sensor) {
    std::fprintf(stderr, "committing the firmware (the sensor may take up to 100 s)...\n");
    if (!sensor.flush_firmware_image()) operation_failed(sensor, "flush_firmware_image");
    // The sensor's report is all the library sees; whether it really took
    // the image, its log tells.
    std::printf("the sensor reported completion; see `vorexctl log`\n");
}

// The upload's progress bar, redrawn on a terminal at most ten times a
// second and once more when every byte is through; it stays on screen.
class upload_bar {
public:
    upload_bar() : start_(clock::now()) {}

    void update(std::uint64_t done, std::uint64_t total) {
        const double seconds = std::chrono::duration<double>(clock::now() - start_).count();
        line_.show(progress_line(done, total, seconds), done >= total);
    }

private:
    clock::time_point start_;
    live_line line_{std::chrono::milliseconds(100), live_line::at_end::keep};
};

struct upload_options {
    selector_options sensor;
    std::string file;
    bool commit = false;
};

void run_upload(const upload_options& o) {
    const std::string unusable = unusable_firmware_file(o.file);
    if (!unusable.empty()) usage_error(unusable);
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    const auto start = clock::now();
    bool uploaded;
    {
        upload_bar bar;
        uploaded = sensor->write_firmware_image(
            o.file.c_str(), [&bar](std::uint64_t done, std::uint64_t total) { bar.update(done, total); });
    }
    if (!uploaded) operation_failed(*sensor, "write_firmware_image");
    const double seconds = std::chrono::duration<double>(clock::now() - start).count();
    std::error_code ignored;
    const std::uintmax_t size = std::filesystem::file_size(o.file, ignored);
    std::printf("uploaded %s (%s in %s); checksum verified: the sensor's matches the file's\n", o.file.c_str(),
                byte_text(size == static_cast<std::uintmax_t>(-1) ? 0 : size).c_str(), duration_text(seconds).c_str());
    std::fflush(stdout);
    if (o.commit) commit_firmware(*sensor);
}

struct log_options {
    selector_options sensor;
    unsigned from = 0;
    unsigned count = 0;
    CLI::Option* count_given = nullptr;
};

// The request names only the first index; the sensor sends the records
// from there to the end of its log, at most 240, and read_log succeeds only
// when it is told that number. So the runs follow the log's end, and only
// the records asked for are printed.
void run_log(const log_options& o) {
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve());
    unsigned total = 0;
    if (!sensor->read_log_record_count(total)) operation_failed(*sensor, "read_log_record_count");
    std::printf("records: %u\n", total);
    const unsigned available = total > o.from ? total - o.from : 0;
    const unsigned end = o.from + (o.count_given->count() > 0 ? std::min(o.count, available) : available);
    std::vector<vorex_log_record_t> records(std::min(available, log_run));
    for (unsigned index = o.from; index < end;) {
        const unsigned run = std::min(total - index, log_run);
        if (!sensor->read_log(index, records.data(), static_cast<int>(run))) operation_failed(*sensor, "read_log");
        for (unsigned i = 0; i < run && index + i < end; ++i) std::fputs(log_line(index + i, records[i]).c_str(), stdout);
        index += run;
    }
}

}  // namespace

void add_maintenance_commands(CLI::App& app, command_registry& registry) {
    CLI::App* firmware = app.add_subcommand("firmware", "Replace the sensor's firmware");
    firmware->require_subcommand(0, 1);

    auto upload = std::make_shared<upload_options>();
    CLI::App* u = firmware->add_subcommand("upload", "Upload a firmware file and check the sensor's checksum of it");
    add_selector_options(*u, upload->sensor);
    u->add_option("FILE", upload->file, "The firmware file, sent as it is")->required()->check(CLI::ExistingFile);
    u->add_flag("--commit", upload->commit, "Once the checksum matches, have the sensor commit the firmware");
    registry.add(u, [upload] { run_upload(*upload); });

    auto commit_sensor = std::make_shared<selector_options>();
    CLI::App* c = firmware->add_subcommand("commit", "Have the sensor commit the firmware uploaded last");
    add_selector_options(*c, *commit_sensor);
    registry.add(c, [commit_sensor] {
        library_scope library;
        commit_firmware(*open_sensor(commit_sensor->resolve()));
    });

    auto log = std::make_shared<log_options>();
    CLI::App* l = app.add_subcommand("log", "Print the number of log records and the records as hex lines");
    add_selector_options(*l, log->sensor);
    l->add_option("--from", log->from, "Index of the first record to print")
        ->check(non_negative_count())
        ->capture_default_str();
    log->count_given = l->add_option("--count", log->count, "Number of records to print (default: all from --from)")
                           ->check(non_negative_count());
    registry.add(l, [log] { run_log(*log); });
}

}  // namespace vorexctl
