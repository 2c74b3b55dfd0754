// vorex: client library for network laser profile sensors (UDP/IPv4).
//
// The whole boundary is the class `vorex`. Its static operations start and
// stop the library and discover sensors; each object is a session with one
// sensor. Every operation blocks its caller until it is done or has timed
// out, reports success by its result, and leaves the text of the last
// failure in the process-wide text returned by `error_msg()`.
//
// Records that cross the boundary or travel on the wire are byte-packed and
// have the same layout in the 32-bit and the 64-bit library. Multi-byte
// fields are little-endian; `ip_address` and `subnet_mask` of the device
// record are in network byte order.
#ifndef VOREX_H
#define VOREX_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#if defined(_WIN32)
#if defined(VOREX_BUILDING_LIBRARY)
#define VOREX_API __declspec(dllexport)
#elif defined(VOREX_STATIC)
#define VOREX_API
#else
#define VOREX_API __declspec(dllimport)
#endif
#else
#define VOREX_API __attribute__((visibility("default")))
#endif

#pragma pack(push, 1)

// The 524-byte device record a sensor reports about itself in its discovery
// reply. Only the named fields are used by the library; the opaque stretches
// are kept byte for byte.
struct vorex_device_info_t {
    std::uint8_t opaque_0[66];
    std::uint32_t serial;
    std::uint8_t opaque_70[70];
    std::uint32_t ip_address;   // network byte order, first octet first
    std::uint32_t subnet_mask;  // network byte order
    std::uint8_t opaque_148[8];
    std::uint16_t data_port;     // host port the sensor streams profiles to
    std::uint8_t opaque_158[2];
    std::uint16_t service_port;  // sensor port for service requests
    std::uint8_t opaque_162[4];
    std::uint8_t mac_address[6];
    std::uint8_t opaque_172[26];
    std::int32_t image_packet_size;  // payload bytes per image datagram; 0 means 32754
    std::uint8_t opaque_202[322];
};

// Header of every service-channel datagram.
struct vorex_packet_header_t {
    std::uint8_t flags;  // bits 4-7 type, bit 3 ack_required, bit 2, bits 0-1
    std::uint8_t reserved[3];
    std::uint32_t serial;
    std::uint16_t counter;
    std::uint8_t command_class;
    std::uint8_t command_code;
    std::uint16_t payload_length;
};

// The eleven parameter groups are opaque runs of bytes: their fields are
// defined by the sensor's firmware.
struct vorex_general_params_t { std::uint8_t bytes[192]; };
struct vorex_sysmon_params_t { std::uint8_t bytes[82]; };
struct vorex_tavikcompat_params_t { std::uint8_t bytes[35]; };
struct vorex_sensor_params_t { std::uint8_t bytes[83]; };
struct vorex_roi_params_t { std::uint8_t bytes[91]; };
struct vorex_network_params_t { std::uint8_t bytes[93]; };
struct vorex_stream_params_t { std::uint8_t bytes[35]; };
struct vorex_image_processing_params_t { std::uint8_t bytes[71]; };
struct vorex_laser_params_t { std::uint8_t bytes[36]; };
struct vorex_inputs_params_t { std::uint8_t bytes[345]; };
struct vorex_outputs_params_t { std::uint8_t bytes[54]; };

// The sensor's 1400-byte user parameter block, carried on the wire as it
// lies in memory.
struct vorex_user_params_t {
    vorex_general_params_t general;
    vorex_sysmon_params_t sysmon;
    vorex_tavikcompat_params_t tavikcompat;
    vorex_sensor_params_t sensor;
    vorex_roi_params_t roi;
    vorex_network_params_t network;
    vorex_stream_params_t stream;
    vorex_image_processing_params_t image_processing;
    vorex_laser_params_t laser;
    vorex_inputs_params_t inputs;
    vorex_outputs_params_t outputs;
    std::uint8_t reserved_tail[283];
};

// The first 64 bytes of a profile datagram, handed over unchanged.
struct vorex_profile_header_t {
    std::uint8_t data_type;  // 16..19
    std::uint8_t sensor_1[27];
    std::uint16_t z_scale;
    std::uint16_t x_scale;
    std::uint16_t scale_divisor;
    std::uint8_t sensor_34[30];
};

// One decoded point.
struct vorex_point_t {
    double x;
    double z;
};

// One record of the sensor's log; its layout is the sensor's.
struct vorex_log_record_t {
    std::uint8_t bytes[136];
};

#pragma pack(pop)

static_assert(sizeof(vorex_device_info_t) == 524, "device record size");
static_assert(offsetof(vorex_device_info_t, serial) == 66, "serial offset");
static_assert(offsetof(vorex_device_info_t, ip_address) == 140, "ip_address offset");
static_assert(offsetof(vorex_device_info_t, subnet_mask) == 144, "subnet_mask offset");
static_assert(offsetof(vorex_device_info_t, data_port) == 156, "data_port offset");
static_assert(offsetof(vorex_device_info_t, service_port) == 160, "service_port offset");
static_assert(offsetof(vorex_device_info_t, mac_address) == 166, "mac_address offset");
static_assert(offsetof(vorex_device_info_t, image_packet_size) == 198, "image_packet_size offset");

static_assert(sizeof(vorex_packet_header_t) == 14, "packet header size");
static_assert(offsetof(vorex_packet_header_t, serial) == 4, "header serial offset");
static_assert(offsetof(vorex_packet_header_t, counter) == 8, "header counter offset");
static_assert(offsetof(vorex_packet_header_t, command_class) == 10, "header class offset");
static_assert(offsetof(vorex_packet_header_t, command_code) == 11, "header code offset");
static_assert(offsetof(vorex_packet_header_t, payload_length) == 12, "header length offset");

static_assert(sizeof(vorex_user_params_t) == 1400, "parameter block size");
static_assert(offsetof(vorex_user_params_t, general) == 0, "general offset");
static_assert(offsetof(vorex_user_params_t, sysmon) == 192, "sysmon offset");
static_assert(offsetof(vorex_user_params_t, tavikcompat) == 274, "tavikcompat offset");
static_assert(offsetof(vorex_user_params_t, sensor) == 309, "sensor offset");
static_assert(offsetof(vorex_user_params_t, roi) == 392, "roi offset");
static_assert(offsetof(vorex_user_params_t, network) == 483, "network offset");
static_assert(offsetof(vorex_user_params_t, stream) == 576, "stream offset");
static_assert(offsetof(vorex_user_params_t, image_processing) == 611, "image_processing offset");
static_assert(offsetof(vorex_user_params_t, laser) == 682, "laser offset");
static_assert(offsetof(vorex_user_params_t, inputs) == 718, "inputs offset");
static_assert(offsetof(vorex_user_params_t, outputs) == 1063, "outputs offset");
static_assert(offsetof(vorex_user_params_t, reserved_tail) == 1117, "reserved_tail offset");

static_assert(sizeof(vorex_profile_header_t) == 64, "profile header size");
static_assert(offsetof(vorex_profile_header_t, z_scale) == 28, "z_scale offset");
static_assert(offsetof(vorex_profile_header_t, x_scale) == 30, "x_scale offset");
static_assert(offsetof(vorex_profile_header_t, scale_divisor) == 32, "scale_divisor offset");
static_assert(sizeof(vorex_point_t) == 16, "point size");
static_assert(offsetof(vorex_point_t, z) == 8, "point z offset");
static_assert(sizeof(vorex_log_record_t) == 136, "log record size");

// The caller's profile record. Member order is part of the interface.
struct vorex_profile {
    vorex_profile_header_t header;
    std::vector<vorex_point_t> points;        // one per non-zero sample, by index
    std::vector<std::uint16_t> raw_values;    // single-value types: every sample
};

// When a datagram reached the host: nanoseconds since the Unix epoch, the
// clock ROS and DDS stamp messages with.
using vorex_receive_time = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

struct vorex_session_access;

class VOREX_API vorex {
public:
    // Firmware upload progress: bytes answered by the sensor so far, and the
    // file's size.
    using progress_callback = std::function<void(std::uint64_t done, std::uint64_t total)>;

    // Starts the socket layer, snapshots the host's IPv4 addresses and
    // allocates the process-wide buffers. True when the socket layer started.
    static bool init();
    // Frees what init set up. Sessions' sockets are not closed.
    static void cleanup();
    // 0x13041600; needs no init.
    static std::uint32_t version();
    // Broadcasts a discovery request from every host address and returns one
    // disconnected session per sensor that answered, in the order found.
    // Sets *done to true just before returning when done is given.
    // Each adapter's reply loop ends at the first empty receive; datagrams
    // that are no reply (any other length, too long ones included) are
    // passed over. Bound: a host that floods it holds an adapter's loop for
    // at most 3 s after the broadcast.
    static std::vector<std::shared_ptr<vorex>> search(bool* done = nullptr);

    // A disconnected session for the sensor `info` describes; its first
    // request carries `first_counter`.
    vorex(const vorex_device_info_t* info, std::uint16_t first_counter);
    // Copies take duplicates of the other session's sockets, so each object
    // closes only its own handles.
    vorex(const vorex& other);
    virtual ~vorex();
    vorex& operator=(const vorex& other);

    const vorex_device_info_t& info() const;
    vorex_user_params_t& params();
    // The process-wide text of the last failure, shared by every session.
    const char* error_msg();

    // Opens and binds the service and data sockets to the host address in
    // the sensor's subnet. False with a message on failure.
    bool connect();
    void disconnect();

    // Whole parameter block, through the session's cache.
    //
    // Every exchange that waits with resends (write_params, flush_params,
    // reboot, the groups, the firmware operations) counts only empty
    // receives toward its limit, and takes a reply of the right length
    // however many other datagrams come before it. Bound: a flood that
    // never pauses fails the wait, as silence would, twice its limit after
    // it began (6 s for the 3000 ms waits, 4 s for reboot, 20 s for a
    // firmware chunk or checksum, 4 s and 200 s for the two waits of the
    // commit). read_params and the log operations make one receive.
    bool read_params(vorex_user_params_t* params);
    bool write_params(vorex_user_params_t* params);
    bool flush_params();
    bool reset_params();  // not implemented: always false
    bool reboot();

    // Parameter groups: a read fills the group's slice of the cache (and
    // *params when given); a write sends the slice after copying *params in.
    bool read_general_params(vorex_general_params_t* params);
    bool write_general_params(vorex_general_params_t* params);
    bool read_sysmon_params(vorex_sysmon_params_t* params);
    bool write_sysmon_params(vorex_sysmon_params_t* params);
    bool read_tavikcompat_params(vorex_tavikcompat_params_t* params);
    bool write_tavikcompat_params(vorex_tavikcompat_params_t* params);
    bool read_sensor_params(vorex_sensor_params_t* params);
    bool write_sensor_params(vorex_sensor_params_t* params);
    bool read_roi_params(vorex_roi_params_t* params);
    bool write_roi_params(vorex_roi_params_t* params);
    bool read_network_params(vorex_network_params_t* params);
    bool write_network_params(vorex_network_params_t* params);
    bool read_stream_params(vorex_stream_params_t* params);
    bool write_stream_params(vorex_stream_params_t* params);
    bool read_image_processing_params(vorex_image_processing_params_t* params);
    bool write_image_processing_params(vorex_image_processing_params_t* params);
    bool read_laser_params(vorex_laser_params_t* params);
    bool write_laser_params(vorex_laser_params_t* params);
    bool read_inputs_params(vorex_inputs_params_t* params);
    bool write_inputs_params(vorex_inputs_params_t* params);
    bool read_outputs_params(vorex_outputs_params_t* params);
    bool write_outputs_params(vorex_outputs_params_t* params);

    // Takes the next profile from the data socket, waiting at most one
    // receive timeout.
    bool get_result(vorex_profile& profile);
    // The same, with the time the profile's datagram reached the host: the
    // kernel's receive time on Linux, the time the receive returned on
    // Windows. `received` is set for every datagram taken that fits a
    // profile, accepted or not, and left as it was when none came.
    bool get_result(vorex_profile& profile, vorex_receive_time& received);
    // Fetches the sensor's image into `image`, which holds at least 316224
    // bytes. True only when the whole image arrived and its last chunk was
    // acknowledged; when no datagram came, or they stopped before a chunk
    // reached the image's end, false with the chunks so far in `image` and
    // "No error". A null `image` returns false before anything is sent.
    // Bound: a transfer still incomplete 30 s after the request returns
    // false.
    bool get_image(unsigned char* image);

    // Uploads a firmware file and checks the sensor's checksum of it. A file
    // of 4 GiB or more is refused before anything is sent, and a read error
    // ends the upload; both return false and leave "No error". `progress`,
    // when given, is called after every answered chunk with the bytes
    // answered so far and the file's size (0 when the size cannot be known
    // in advance, as for a pipe); it runs under the service lock, so it must
    // not call the library.
    bool write_firmware_image(const char* path);
    bool write_firmware_image(const char* path, const progress_callback& progress);
    // Has the sensor commit the uploaded firmware; waits up to ~100 s for
    // its completion.
    bool flush_firmware_image();

    // Reads `count` (1..240) log records starting at `index`. A null array
    // or a count out of range returns false at once, the error text
    // untouched.
    bool read_log(unsigned int index, vorex_log_record_t* records, int count);
    // The number of records in the sensor's log; 0 on failure, which an
    // empty log also gives.
    unsigned int read_log_record_count();
    // The same exchange with failure told apart from an empty log: true with
    // the sensor's number of records in `count` when its reply came; false
    // when the request did not go out whole or no reply of the right length
    // came within one receive timeout, `count` then untouched.
    bool read_log_record_count(unsigned int& count);

private:
    friend struct vorex_session_access;

    bool group_exchange(int group, bool write, void* record);
    void close_sockets();

    vorex_device_info_t device_info;
    vorex_user_params_t user_params;
    std::uint16_t message_counter;
    std::uintptr_t service_socket;
    std::uintptr_t data_socket;
};

#endif
