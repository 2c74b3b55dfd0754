// Lines the tool redraws on a terminal while it works.
#ifndef VOREXCTL_PROGRESS_H
#define VOREXCTL_PROGRESS_H

#include <cstdint>
#include <string>

namespace vorexctl {

// "812 B", "1.5 KiB", "3.25 MiB".
std::string byte_text(std::uint64_t bytes);
// "0:04", "12:30", "1:02:03".
std::string duration_text(double seconds);

// An upload's bar after `seconds`:
// "[##########----------]  50%  1.2 KiB / 2.5 KiB  600 B/s  ETA 0:02".
// The rate and ETA show "--" until bytes have moved.
std::string progress_line(std::uint64_t done, std::uint64_t total, double seconds);

// A collection's bar: "[############------------]  50%  240 / 480 profiles  ETA 0:02"
// by count, or "[...]  50%  0:05 / 0:10  1002 profiles" when it runs for a
// time (`total_seconds` > 0).
std::string collection_line(std::uint64_t done, std::uint64_t total, double seconds, double total_seconds = 0);

// "120.0 profiles/s  1296 points/profile  0 malformed  2 dropped  (1234 received)";
// the dropped count (by the kernel, on the data port) only when known (>= 0).
std::string stream_status(double profiles_per_second, double points_per_profile, std::uint64_t malformed,
                          std::uint64_t received, std::int64_t dropped = -1);

}  // namespace vorexctl

#endif
