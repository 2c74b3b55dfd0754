#include "dds.h"

#include <memory>

namespace vorex_bridge {

namespace {

dds_entity_t checked(dds_entity_t result, const std::string& what) {
    if (result < 0) throw dds_failure(what + ": " + dds_strretcode(result));
    return result;
}

struct qos_deleter {
    void operator()(dds_qos_t* q) const { dds_delete_qos(q); }
};

std::unique_ptr<dds_qos_t, qos_deleter> qos_for(delivery how, int depth) {
    std::unique_ptr<dds_qos_t, qos_deleter> q(dds_create_qos());
    dds_qset_history(q.get(), DDS_HISTORY_KEEP_LAST, how == delivery::latched ? 1 : depth);
    if (how == delivery::sensor_data) dds_qset_reliability(q.get(), DDS_RELIABILITY_BEST_EFFORT, 0);
    else dds_qset_reliability(q.get(), DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
    if (how == delivery::latched) dds_qset_durability(q.get(), DDS_DURABILITY_TRANSIENT_LOCAL);
    return q;
}

}  // namespace

participant::participant(dds_domainid_t domain)
    : handle_(checked(dds_create_participant(domain, nullptr, nullptr), "cannot join DDS domain " + std::to_string(domain))) {}

participant::~participant() { dds_delete(handle_); }

writer::writer(const participant& p, const dds_topic_descriptor_t* type, const std::string& topic, delivery how,
               int depth) {
    const auto q = qos_for(how, depth);
    const dds_entity_t t = checked(dds_create_topic(p.handle(), type, topic.c_str(), q.get(), nullptr), "topic " + topic);
    handle_ = checked(dds_create_writer(p.handle(), t, q.get(), nullptr), "writer of " + topic);
}

}  // namespace vorex_bridge
