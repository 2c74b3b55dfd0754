// The bridge's few uses of Cyclone DDS's C API: a participant that owns
// everything made from it, and writers with the three QoS the topics need.
#ifndef VOREX_BRIDGE_DDS_H
#define VOREX_BRIDGE_DDS_H

#include <stdexcept>
#include <string>

#include "dds/dds.h"

namespace vorex_bridge {

// A DDS call that failed; what() names the call and Cyclone's reason.
struct dds_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How a topic's samples travel.
enum class delivery {
    sensor_data,  // best effort, keep the last `depth` (ROS 2's sensor-data QoS)
    reliable,     // reliable, keep the last `depth`
    latched,      // reliable and transient local: late joiners get the last sample
};

class participant {
public:
    // Joins DDS domain `domain` (Cyclone reads CYCLONEDDS_URI); throws
    // dds_failure when it cannot.
    explicit participant(dds_domainid_t domain);
    ~participant();
    participant(const participant&) = delete;
    participant& operator=(const participant&) = delete;
    dds_entity_t handle() const { return handle_; }

private:
    dds_entity_t handle_;
};

// A writer of one topic; the participant deletes it with itself.
class writer {
public:
    writer(const participant& p, const dds_topic_descriptor_t* type, const std::string& topic, delivery how,
           int depth);
    // False when DDS refused the sample.
    bool write(const void* sample) const { return dds_write(handle_, sample) >= 0; }

private:
    dds_entity_t handle_;
};

}  // namespace vorex_bridge

#endif
