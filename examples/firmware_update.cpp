// Upload a firmware file to the first sensor found, check the sensor's
// checksum of it, and commit it. Usage: firmware_update FILE
#include <vorex.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: firmware_update FILE\n");
        return 2;
    }
    if (!vorex::init()) return 1;
    int status = 1;
    {
        auto sensors = vorex::search();
        if (!sensors.empty() && sensors[0]->connect()) {
            vorex& sensor = *sensors[0];
            auto progress = [](std::uint64_t done, std::uint64_t total) {
                std::fprintf(stderr, "\r%llu / %llu bytes", static_cast<unsigned long long>(done),
                             static_cast<unsigned long long>(total));
            };
            // True only when every chunk was answered and the checksums agree.
            if (!sensor.write_firmware_image(argv[1], progress)) {
                std::fprintf(stderr, "\nupload failed: %s\n", sensor.error_msg());
            } else if (!sensor.flush_firmware_image()) {  // may take up to ~100 s
                std::fprintf(stderr, "\ncommit failed: %s\n", sensor.error_msg());
            } else {
                std::fprintf(stderr, "\nthe sensor reported completion; its log tells whether it took the image\n");
                status = 0;
            }
        }
    }
    vorex::cleanup();
    return status;
}
