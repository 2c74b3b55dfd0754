// Read one parameter group, change it, write it back and make the sensor
// keep it across restarts.
#include <vorex.h>

#include <cstdio>

int main() {
    if (!vorex::init()) return 1;
    int status = 1;
    {
        auto sensors = vorex::search();
        if (!sensors.empty() && sensors[0]->connect()) {
            vorex& sensor = *sensors[0];
            vorex_laser_params_t laser;
            // A group read fills the session's cache and our record.
            if (sensor.read_laser_params(&laser)) {
                std::printf("laser group, first byte %u\n", laser.bytes[0]);
                laser.bytes[0] = static_cast<std::uint8_t>(laser.bytes[0] + 1);  // the layout is the sensor's
                // Only the group's bytes travel; flush makes the sensor persist the block.
                if (sensor.write_laser_params(&laser) && sensor.flush_params()) {
                    std::printf("written and flushed\n");
                    status = 0;
                }
            }
            if (status) std::printf("failed: %s\n", sensor.error_msg());
        }
    }
    vorex::cleanup();
    return status;
}
