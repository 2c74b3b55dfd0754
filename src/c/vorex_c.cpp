// The C interface: each function forwards to one operation of the class.
// What this layer decides itself is only what C needs: handles, null
// refusals, buffer capacities, and that no exception crosses.
#include "vorex_c.h"

#include <cstring>
#include <new>
#include <vector>

#include "vorex.h"

// One handle holds one shared pointer, as a search result is one.
struct vorex_c_session {
    std::shared_ptr<vorex> object;
    bool owned_by_list = false;
};

struct vorex_c_session_list {
    std::vector<vorex_c_session> sessions;
};

namespace {

// The C records are the class's records byte for byte.
template <typename C, typename Cpp>
constexpr bool same_size = sizeof(C) == sizeof(Cpp);
static_assert(same_size<vorex_c_device_info_t, vorex_device_info_t>, "device record");
static_assert(offsetof(vorex_c_device_info_t, serial) == offsetof(vorex_device_info_t, serial), "serial");
static_assert(offsetof(vorex_c_device_info_t, ip_address) == offsetof(vorex_device_info_t, ip_address), "ip");
static_assert(offsetof(vorex_c_device_info_t, subnet_mask) == offsetof(vorex_device_info_t, subnet_mask), "mask");
static_assert(offsetof(vorex_c_device_info_t, data_port) == offsetof(vorex_device_info_t, data_port), "data port");
static_assert(offsetof(vorex_c_device_info_t, service_port) == offsetof(vorex_device_info_t, service_port), "port");
static_assert(offsetof(vorex_c_device_info_t, mac_address) == offsetof(vorex_device_info_t, mac_address), "mac");
static_assert(offsetof(vorex_c_device_info_t, image_packet_size) == offsetof(vorex_device_info_t, image_packet_size),
              "image packet size");
static_assert(same_size<vorex_c_user_params_t, vorex_user_params_t>, "parameter block");
static_assert(same_size<vorex_c_profile_header_t, vorex_profile_header_t>, "profile header");
static_assert(offsetof(vorex_c_profile_header_t, z_scale) == offsetof(vorex_profile_header_t, z_scale), "z_scale");
static_assert(offsetof(vorex_c_profile_header_t, x_scale) == offsetof(vorex_profile_header_t, x_scale), "x_scale");
static_assert(offsetof(vorex_c_profile_header_t, scale_divisor) == offsetof(vorex_profile_header_t, scale_divisor),
              "scale_divisor");
static_assert(same_size<vorex_c_point_t, vorex_point_t> && offsetof(vorex_c_point_t, z) == offsetof(vorex_point_t, z),
              "point");
static_assert(same_size<vorex_c_log_record_t, vorex_log_record_t>, "log record");

// Runs a forwarding call; an exception from the class (memory, a lock)
// becomes the refusal value, since none may cross into C.
template <typename Result, typename Call>
Result guarded(Result refused, Call call) noexcept {
    try {
        return call();
    } catch (...) {
        return refused;
    }
}

int forward(vorex_c_session* session, bool (vorex::*operation)()) {
    if (!session) return 0;
    return guarded(0, [&] { return ((*session->object).*operation)() ? 1 : 0; });
}

// The group family: the class's 22 operations by group index.
using group_call = bool (*)(vorex&, void*);
template <typename Record, bool (vorex::*Operation)(Record*)>
bool call_group(vorex& session, void* record) {
    return (session.*Operation)(static_cast<Record*>(record));
}
struct group_entry {
    std::size_t size;
    group_call read;
    group_call write;
};
#define VOREX_C_GROUP(name)                                                          \
    group_entry {                                                                    \
        sizeof(vorex_##name##_params_t), &call_group<vorex_##name##_params_t, &vorex::read_##name##_params>, \
            &call_group<vorex_##name##_params_t, &vorex::write_##name##_params>      \
    }
constexpr group_entry groups[VOREX_C_GROUP_COUNT] = {
    VOREX_C_GROUP(general),  VOREX_C_GROUP(sysmon), VOREX_C_GROUP(tavikcompat),      VOREX_C_GROUP(sensor),
    VOREX_C_GROUP(roi),      VOREX_C_GROUP(network), VOREX_C_GROUP(stream),          VOREX_C_GROUP(image_processing),
    VOREX_C_GROUP(laser),    VOREX_C_GROUP(inputs),  VOREX_C_GROUP(outputs)};
#undef VOREX_C_GROUP
static_assert(sizeof(vorex_c_user_params_t::sysmon) == sizeof(vorex_sysmon_params_t) &&
                  offsetof(vorex_c_user_params_t, sysmon) == offsetof(vorex_user_params_t, sysmon) &&
                  offsetof(vorex_c_user_params_t, outputs) == offsetof(vorex_user_params_t, outputs) &&
                  sizeof(vorex_c_user_params_t::outputs) == sizeof(vorex_outputs_params_t) &&
                  offsetof(vorex_c_user_params_t, reserved_tail) == offsetof(vorex_user_params_t, reserved_tail),
              "groups");

int group_operation(vorex_c_session* session, int group, void* record, std::size_t size, bool write) {
    if (!session || group < 0 || group >= VOREX_C_GROUP_COUNT) return 0;
    const group_entry& entry = groups[group];
    if (record && size < entry.size) return 0;
    return guarded(0, [&] { return (write ? entry.write : entry.read)(*session->object, record) ? 1 : 0; });
}

// One profile record per thread: reused from call to call, so reception
// allocates only when a profile is larger than any before, and two threads
// receiving on one session do not share it.
vorex_profile& thread_profile() {
    thread_local vorex_profile profile;
    return profile;
}

int take_profile(vorex& session, vorex_c_profile_header_t* header, vorex_c_point_t* points, std::size_t point_capacity,
                 std::size_t* point_count, std::uint16_t* raw_values, std::size_t raw_capacity,
                 std::size_t* raw_count) {
    vorex_profile& profile = thread_profile();
    if (!session.get_result(profile)) return 0;
    *point_count = profile.points.size();
    if (raw_count) *raw_count = profile.raw_values.size();
    if (profile.points.size() > point_capacity || (raw_values && profile.raw_values.size() > raw_capacity)) return 0;
    std::memcpy(header, &profile.header, sizeof *header);
    if (!profile.points.empty()) std::memcpy(points, profile.points.data(), profile.points.size() * sizeof *points);
    if (raw_values && !profile.raw_values.empty())
        std::memcpy(raw_values, profile.raw_values.data(), profile.raw_values.size() * sizeof *raw_values);
    return 1;
}

}  // namespace

extern "C" {

int vorex_c_init(void) {
    return guarded(0, [] { return vorex::init() ? 1 : 0; });
}

void vorex_c_cleanup(void) {
    guarded(0, [] {
        vorex::cleanup();
        return 0;
    });
}

uint32_t vorex_c_version(void) { return vorex::version(); }

vorex_c_session_list* vorex_c_search(int* done) {
    return guarded<vorex_c_session_list*>(nullptr, [&] {
        auto list = std::make_unique<vorex_c_session_list>();
        bool finished = false;
        for (std::shared_ptr<vorex>& found : vorex::search(&finished))
            list->sessions.push_back(vorex_c_session{std::move(found), true});
        if (done) *done = finished ? 1 : 0;
        return list.release();
    });
}

size_t vorex_c_list_count(const vorex_c_session_list* list) { return list ? list->sessions.size() : 0; }

vorex_c_session* vorex_c_list_session(const vorex_c_session_list* list, size_t index) {
    if (!list || index >= list->sessions.size()) return nullptr;
    return const_cast<vorex_c_session*>(&list->sessions[index]);
}

void vorex_c_free_list(vorex_c_session_list* list) { delete list; }

vorex_c_session* vorex_c_open(const vorex_c_device_info_t* info, uint16_t first_counter) {
    if (!info) return nullptr;
    return guarded<vorex_c_session*>(nullptr, [&] {
        vorex_device_info_t record;
        std::memcpy(&record, info, sizeof record);
        return new vorex_c_session{std::make_shared<vorex>(&record, first_counter)};
    });
}

vorex_c_session* vorex_c_share(const vorex_c_session* session) {
    if (!session) return nullptr;
    return new (std::nothrow) vorex_c_session{session->object};
}

void vorex_c_free_session(vorex_c_session* session) {
    if (session && !session->owned_by_list) delete session;
}

int vorex_c_connect(vorex_c_session* session) { return forward(session, &vorex::connect); }

void vorex_c_disconnect(vorex_c_session* session) {
    if (session) session->object->disconnect();
}

const vorex_c_device_info_t* vorex_c_info(const vorex_c_session* session) {
    return session ? reinterpret_cast<const vorex_c_device_info_t*>(&session->object->info()) : nullptr;
}

vorex_c_user_params_t* vorex_c_params(vorex_c_session* session) {
    return session ? reinterpret_cast<vorex_c_user_params_t*>(&session->object->params()) : nullptr;
}

const char* vorex_c_error_msg(vorex_c_session* session) { return session ? session->object->error_msg() : nullptr; }

int vorex_c_read_params(vorex_c_session* session, vorex_c_user_params_t* params) {
    if (!session) return 0;
    return guarded(0, [&] { return session->object->read_params(reinterpret_cast<vorex_user_params_t*>(params)); });
}

int vorex_c_write_params(vorex_c_session* session, vorex_c_user_params_t* params) {
    if (!session) return 0;
    return guarded(0, [&] { return session->object->write_params(reinterpret_cast<vorex_user_params_t*>(params)); });
}

int vorex_c_flush_params(vorex_c_session* session) { return forward(session, &vorex::flush_params); }
int vorex_c_reset_params(vorex_c_session* session) { return forward(session, &vorex::reset_params); }
int vorex_c_reboot(vorex_c_session* session) { return forward(session, &vorex::reboot); }

size_t vorex_c_group_size(int group) {
    return group >= 0 && group < VOREX_C_GROUP_COUNT ? groups[group].size : 0;
}

int vorex_c_read_group(vorex_c_session* session, int group, void* record, size_t size) {
    return group_operation(session, group, record, size, false);
}

int vorex_c_write_group(vorex_c_session* session, int group, void* record, size_t size) {
    return group_operation(session, group, record, size, true);
}

int vorex_c_get_result(vorex_c_session* session, vorex_c_profile_header_t* header, vorex_c_point_t* points,
                       size_t point_capacity, size_t* point_count, uint16_t* raw_values, size_t raw_capacity,
                       size_t* raw_count) {
    if (!session || !header || !points || !point_count) return 0;
    *point_count = 0;
    if (raw_count) *raw_count = 0;
    return guarded(0, [&] {
        return take_profile(*session->object, header, points, point_capacity, point_count, raw_values, raw_capacity,
                            raw_count);
    });
}

int vorex_c_get_image(vorex_c_session* session, unsigned char* image, size_t size) {
    if (!session || !image || size < VOREX_C_IMAGE_SIZE) return 0;
    return guarded(0, [&] { return session->object->get_image(image) ? 1 : 0; });
}

int vorex_c_write_firmware_image(vorex_c_session* session, const char* path, vorex_c_progress_fn progress,
                                 void* context) {
    if (!session || !path) return 0;
    return guarded(0, [&] {
        if (!progress) return session->object->write_firmware_image(path) ? 1 : 0;
        auto report = [progress, context](std::uint64_t done, std::uint64_t total) { progress(done, total, context); };
        return session->object->write_firmware_image(path, report) ? 1 : 0;
    });
}

int vorex_c_flush_firmware_image(vorex_c_session* session) { return forward(session, &vorex::flush_firmware_image); }

int vorex_c_read_log(vorex_c_session* session, unsigned int index, vorex_c_log_record_t* records, int count) {
    if (!session || !records) return 0;
    return guarded(0, [&] {
        return session->object->read_log(index, reinterpret_cast<vorex_log_record_t*>(records), count) ? 1 : 0;
    });
}

unsigned int vorex_c_read_log_record_count(vorex_c_session* session) {
    if (!session) return 0;
    return guarded(0u, [&] { return session->object->read_log_record_count(); });
}

int vorex_c_read_log_record_count_checked(vorex_c_session* session, unsigned int* count) {
    if (!session || !count) return 0;
    return guarded(0, [&] { return session->object->read_log_record_count(*count) ? 1 : 0; });
}

}  // extern "C"
