// The parameter block and its eleven groups as runs of bytes that a tool
// reads and writes through the session's public members, by name. Header
// only, over the public class: vorexctl and the Python module share it.
#ifndef VOREXCTL_GROUP_MEMBERS_H
#define VOREXCTL_GROUP_MEMBERS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "vorex.h"

namespace vorexctl {

struct group_entry {
    const char* name;
    std::size_t size;
    bool (*read)(vorex&, std::uint8_t*);
    bool (*write)(vorex&, const std::uint8_t*);
    std::string read_name;   // the members, for messages
    std::string write_name;
};

template <typename>
struct record_of;
template <typename T>
struct record_of<bool (vorex::*)(T*)> {
    using type = T;
};

// One table row from a read and a write member; the record type, and so
// the size, follows from their signatures.
template <auto read_member, auto write_member>
group_entry row(const char* name, const std::string& member_suffix) {
    using record = typename record_of<decltype(read_member)>::type;
    static_assert(std::is_same_v<record, typename record_of<decltype(write_member)>::type>, "one record type");
    return {name,
            sizeof(record),
            [](vorex& s, std::uint8_t* out) {
                record r;
                if (!(s.*read_member)(&r)) return false;
                std::memcpy(out, &r, sizeof r);
                return true;
            },
            [](vorex& s, const std::uint8_t* in) {
                record r;
                std::memcpy(&r, in, sizeof r);
                return (s.*write_member)(&r);
            },
            "read_" + member_suffix,
            "write_" + member_suffix};
}

inline const group_entry whole_block = row<&vorex::read_params, &vorex::write_params>("block", "params");

inline const group_entry groups[] = {
    row<&vorex::read_general_params, &vorex::write_general_params>("general", "general_params"),
    row<&vorex::read_sysmon_params, &vorex::write_sysmon_params>("sysmon", "sysmon_params"),
    row<&vorex::read_tavikcompat_params, &vorex::write_tavikcompat_params>("tavikcompat", "tavikcompat_params"),
    row<&vorex::read_sensor_params, &vorex::write_sensor_params>("sensor", "sensor_params"),
    row<&vorex::read_roi_params, &vorex::write_roi_params>("roi", "roi_params"),
    row<&vorex::read_network_params, &vorex::write_network_params>("network", "network_params"),
    row<&vorex::read_stream_params, &vorex::write_stream_params>("stream", "stream_params"),
    row<&vorex::read_image_processing_params, &vorex::write_image_processing_params>("image_processing",
                                                                                     "image_processing_params"),
    row<&vorex::read_laser_params, &vorex::write_laser_params>("laser", "laser_params"),
    row<&vorex::read_inputs_params, &vorex::write_inputs_params>("inputs", "inputs_params"),
    row<&vorex::read_outputs_params, &vorex::write_outputs_params>("outputs", "outputs_params"),
};

}  // namespace vorexctl

#endif
