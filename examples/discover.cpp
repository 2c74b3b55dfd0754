// Find every sensor reachable from this host and print what it reports.
// Discovery broadcasts on each host address: run it on the sensors'
// network (or inside a private network namespace with a simulator).
#include <vorex.h>

#include <cstdio>

int main() {
    std::printf("vorex library version 0x%08X\n", static_cast<unsigned>(vorex::version()));
    if (!vorex::init()) return 1;  // init: once per process, before anything else
    {
        // One session per sensor that answered, in the order found.
        std::vector<std::shared_ptr<vorex>> sensors = vorex::search();
        std::printf("%zu sensor(s)\n", sensors.size());
        for (const auto& sensor : sensors) {
            const vorex_device_info_t& info = sensor->info();
            // ip_address is stored in network byte order: first octet first.
            const auto* ip = reinterpret_cast<const unsigned char*>(&info.ip_address);
            std::printf("serial %u at %u.%u.%u.%u, service port %u, profiles to host port %u\n",
                        static_cast<unsigned>(info.serial), ip[0], ip[1], ip[2], ip[3],
                        static_cast<unsigned>(info.service_port), static_cast<unsigned>(info.data_port));
        }
    }  // sessions close their sockets when the last pointer goes
    vorex::cleanup();
    return 0;
}
