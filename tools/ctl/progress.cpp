#include "progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vorexctl {

namespace {
constexpr int bar_width = 24;
}

std::string byte_text(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.2f MiB", static_cast<double>(bytes) / (1024 * 1024));
    }
    return text;
}

std::string duration_text(double seconds) {
    const auto whole = static_cast<unsigned long long>(std::llround(std::max(seconds, 0.0)));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    return text;
}

namespace {

// "[##########----------]  50%"
std::string bar_text(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(fraction * bar_width);
    std::string out = "[" + std::string(filled, '#') + std::string(bar_width - filled, '-') + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
    return out + percent;
}

double fraction_of(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace

std::string progress_line(std::uint64_t done, std::uint64_t total, double seconds) {
    std::string out = bar_text(fraction_of(done, total));
    out += "  " + byte_text(done) + " / " + byte_text(total);
    if (done == 0 || seconds <= 0) return out + "  -- B/s  ETA --:--";
    const double rate = static_cast<double>(done) / seconds;
    out += "  " + byte_text(static_cast<std::uint64_t>(rate)) + "/s";
    out += "  ETA " + duration_text(static_cast<double>(total > done ? total - done : 0) / rate);
    return out;
}

std::string collection_line(std::uint64_t done, std::uint64_t total, double seconds, double total_seconds) {
    const std::string profiles = std::to_string(done) + " profiles";
    if (total_seconds > 0)
        return bar_text(seconds / total_seconds) + "  " + duration_text(seconds) + " / " + duration_text(total_seconds) +
               "  " + profiles;
    std::string out = bar_text(fraction_of(done, total)) + "  " + std::to_string(done) + " / " + std::to_string(total) +
                      " profiles";
    if (done == 0 || seconds <= 0) return out + "  ETA --:--";
    return out + "  ETA " + duration_text(static_cast<double>(total > done ? total - done : 0) * seconds /
                                          static_cast<double>(done));
}

std::string stream_status(double profiles_per_second, double points_per_profile, std::uint64_t malformed,
                          std::uint64_t received, std::int64_t dropped) {
    char drops[40] = "";
    if (dropped >= 0) std::snprintf(drops, sizeof drops, "  %lld dropped", static_cast<long long>(dropped));
    char text[200];
    std::snprintf(text, sizeof text, "%.1f profiles/s  %.0f points/profile  %llu malformed%s  (%llu received)",
                  profiles_per_second, points_per_profile, static_cast<unsigned long long>(malformed), drops,
                  static_cast<unsigned long long>(received));
    return text;
}

}  // namespace vorexctl
