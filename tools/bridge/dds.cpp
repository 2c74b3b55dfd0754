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

// Cyclone's own words for what went wrong while it starts, kept for the
// one line the bridge prints instead of letting it write its own.
class start_log {
public:
    start_log() { dds_set_log_sink(&start_log::keep, this); }
    ~start_log() { dds_set_log_sink(nullptr, nullptr); }
    start_log(const start_log&) = delete;
    start_log& operator=(const start_log&) = delete;
    const std::string& text() const { return text_; }

private:
    static void keep(void* self, const dds_log_data_t* d) {
        auto& text = static_cast<start_log*>(self)->text_;
        std::string line(d->message, d->size);
        while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
        if (line.empty()) return;
        text += (text.empty() ? "" : "; ") + line;
    }
    std::string text_;
};

std::string domain_name(dds_domainid_t domain) {
    return domain == DDS_DOMAIN_DEFAULT ? "the default DDS domain" : "DDS domain " + std::to_string(domain);
}

dds_entity_t joined(dds_domainid_t domain) {
    start_log log;
    const dds_entity_t p = dds_create_participant(domain, nullptr, nullptr);
    if (p < 0)
        throw dds_failure("cannot join " + domain_name(domain) + ": " + (log.text().empty() ? dds_strretcode(p) : log.text()));
    return p;
}

}  // namespace

participant::participant(dds_domainid_t domain) : handle_(joined(domain)) {}

participant::~participant() { dds_delete(handle_); }

writer::writer(const participant& p, const dds_topic_descriptor_t* type, const std::string& topic, delivery how,
               int depth) {
    const auto q = qos_for(how, depth);
    const dds_entity_t t = checked(dds_create_topic(p.handle(), type, topic.c_str(), q.get(), nullptr), "topic " + topic);
    handle_ = checked(dds_create_writer(p.handle(), t, q.get(), nullptr), "writer of " + topic);
}

}  // namespace vorex_bridge
