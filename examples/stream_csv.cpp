// Receive profiles from the first sensor found and write their points as
// CSV: profile,x,z. Usage: stream_csv [profiles] > points.csv
#include <vorex.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int wanted = argc > 1 ? std::atoi(argv[1]) : 10;
    if (!vorex::init()) return 1;
    int status = 1;
    {
        auto sensors = vorex::search();
        if (!sensors.empty() && sensors[0]->connect()) {
            vorex& sensor = *sensors[0];
            // Reuse one record: its arrays keep their storage between calls.
            vorex_profile profile;
            std::printf("profile,x,z\n");
            int received = 0;
            for (int attempts = 0; received < wanted && attempts < wanted * 20; ++attempts) {
                // Waits at most one receive timeout (100 ms) for a datagram.
                if (!sensor.get_result(profile)) continue;
                for (const vorex_point_t& p : profile.points) std::printf("%d,%.4f,%.4f\n", received, p.x, p.z);
                ++received;
            }
            std::fprintf(stderr, "%d profile(s)\n", received);
            status = received == wanted ? 0 : 1;
        }
    }
    vorex::cleanup();
    return status;
}
