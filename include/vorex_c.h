/* vorex_c: the C interface of the vorex sensor client library.
 *
 * A thin layer over the class vorex for every consumer that cannot link a
 * C++ class: C, Visual Studio, C# (P/Invoke), LabVIEW, Python's ctypes.
 * Each function forwards to one operation of the class and returns what it
 * returns (1 for true, 0 for false). A null handle or a null pointer the
 * function needs is refused: 0 (or a null pointer), nothing done, and the
 * error text untouched. No function lets an exception out; where the class
 * would throw (an allocation failure) the result is 0.
 *
 * Records cross as the same byte-packed bytes the class uses, identical in
 * 32-bit and 64-bit builds. Multi-byte fields are little-endian;
 * ip_address and subnet_mask are in network byte order.
 *
 * Memory: the caller owns every buffer it passes. Handles and lists are
 * the library's and are freed only with vorex_c_free_session and
 * vorex_c_free_list; no other memory and no C runtime object crosses.
 *
 * Windows: every function uses the __cdecl calling convention; the DLL is
 * vorex_c.dll (64-bit) or vorexd_c.dll (32-bit), with import libraries for
 * MinGW (libvorex_c.dll.a) and Visual Studio (vorex_c.lib). */
#ifndef VOREX_C_H
#define VOREX_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VOREX_C_CALL __cdecl
#if defined(VOREX_C_BUILDING_LIBRARY)
#define VOREX_C_API __declspec(dllexport)
#elif defined(VOREX_C_STATIC)
#define VOREX_C_API
#else
#define VOREX_C_API __declspec(dllimport)
#endif
#else
#define VOREX_C_CALL
#if defined(__GNUC__)
#define VOREX_C_API __attribute__((visibility("default")))
#else
#define VOREX_C_API
#endif
#endif

/* Size checks that every compiler evaluates: C++11, C11, or a negative
   array size in C99. */
#if defined(__cplusplus)
#define VOREX_C_CHECK(name, condition) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define VOREX_C_CHECK(name, condition) _Static_assert(condition, #name)
#else
#define VOREX_C_CHECK(name, condition) typedef char vorex_c_check_##name[(condition) ? 1 : -1]
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define VOREX_C_IMAGE_SIZE 316224u
/* The most points (and raw values) one profile holds. */
#define VOREX_C_MAX_POINTS 1296u

#pragma pack(push, 1)

/* The 524-byte device record a sensor reports about itself. */
typedef struct vorex_c_device_info_t {
    uint8_t opaque_0[66];
    uint32_t serial;
    uint8_t opaque_70[70];
    uint32_t ip_address;  /* network byte order, first octet first */
    uint32_t subnet_mask; /* network byte order */
    uint8_t opaque_148[8];
    uint16_t data_port;    /* host port the sensor streams profiles to */
    uint8_t opaque_158[2];
    uint16_t service_port; /* sensor port for service requests */
    uint8_t opaque_162[4];
    uint8_t mac_address[6];
    uint8_t opaque_172[26];
    int32_t image_packet_size; /* payload bytes per image datagram; 0 means 32754 */
    uint8_t opaque_202[322];
} vorex_c_device_info_t;

/* The 1400-byte user parameter block: eleven groups of opaque bytes, laid
   out by the sensor's firmware, in the order of vorex_c_group. */
typedef struct vorex_c_user_params_t {
    uint8_t general[192];
    uint8_t sysmon[82];
    uint8_t tavikcompat[35];
    uint8_t sensor[83];
    uint8_t roi[91];
    uint8_t network[93];
    uint8_t stream[35];
    uint8_t image_processing[71];
    uint8_t laser[36];
    uint8_t inputs[345];
    uint8_t outputs[54];
    uint8_t reserved_tail[283];
} vorex_c_user_params_t;

/* The first 64 bytes of a profile datagram, as the sensor sent them. */
typedef struct vorex_c_profile_header_t {
    uint8_t data_type; /* 16..19 */
    uint8_t sensor_1[27];
    uint16_t z_scale;
    uint16_t x_scale;
    uint16_t scale_divisor;
    uint8_t sensor_34[30];
} vorex_c_profile_header_t;

typedef struct vorex_c_point_t {
    double x;
    double z;
} vorex_c_point_t;

/* One record of the sensor's log; its layout is the sensor's. */
typedef struct vorex_c_log_record_t {
    uint8_t bytes[136];
} vorex_c_log_record_t;

#pragma pack(pop)

VOREX_C_CHECK(device_info_size, sizeof(vorex_c_device_info_t) == 524);
VOREX_C_CHECK(device_info_serial, offsetof(vorex_c_device_info_t, serial) == 66);
VOREX_C_CHECK(device_info_ip_address, offsetof(vorex_c_device_info_t, ip_address) == 140);
VOREX_C_CHECK(device_info_data_port, offsetof(vorex_c_device_info_t, data_port) == 156);
VOREX_C_CHECK(device_info_service_port, offsetof(vorex_c_device_info_t, service_port) == 160);
VOREX_C_CHECK(device_info_image_packet_size, offsetof(vorex_c_device_info_t, image_packet_size) == 198);
VOREX_C_CHECK(user_params_size, sizeof(vorex_c_user_params_t) == 1400);
VOREX_C_CHECK(user_params_outputs, offsetof(vorex_c_user_params_t, outputs) == 1063);
VOREX_C_CHECK(profile_header_size, sizeof(vorex_c_profile_header_t) == 64);
VOREX_C_CHECK(profile_header_scale_divisor, offsetof(vorex_c_profile_header_t, scale_divisor) == 32);
VOREX_C_CHECK(point_size, sizeof(vorex_c_point_t) == 16);
VOREX_C_CHECK(log_record_size, sizeof(vorex_c_log_record_t) == 136);

/* The parameter groups, by index, in block order. */
enum vorex_c_group {
    VOREX_C_GENERAL = 0,
    VOREX_C_SYSMON,
    VOREX_C_TAVIKCOMPAT,
    VOREX_C_SENSOR,
    VOREX_C_ROI,
    VOREX_C_NETWORK,
    VOREX_C_STREAM,
    VOREX_C_IMAGE_PROCESSING,
    VOREX_C_LASER,
    VOREX_C_INPUTS,
    VOREX_C_OUTPUTS,
    VOREX_C_GROUP_COUNT
};

/* A session with one sensor. */
typedef struct vorex_c_session vorex_c_session;
/* The sessions one search found. */
typedef struct vorex_c_session_list vorex_c_session_list;

/* Firmware upload progress: bytes answered so far, the file's size (0 when
   it cannot be known in advance), and the caller's context. Runs on the
   calling thread under the library's service lock: it must not call the
   library. */
typedef void(VOREX_C_CALL* vorex_c_progress_fn)(uint64_t done, uint64_t total, void* context);

/* Library lifecycle, as vorex::init, vorex::cleanup and vorex::version. */
VOREX_C_API int VOREX_C_CALL vorex_c_init(void);
VOREX_C_API void VOREX_C_CALL vorex_c_cleanup(void);
VOREX_C_API uint32_t VOREX_C_CALL vorex_c_version(void);

/* Discovery (vorex::search): a list of one disconnected session per sensor
   that answered, in the order found; *done, when given, is set to 1 just
   before returning. Null only when memory ran out. Free it with
   vorex_c_free_list, which frees every handle it holds. */
VOREX_C_API vorex_c_session_list* VOREX_C_CALL vorex_c_search(int* done);
/* The number of sessions in the list; 0 for a null list. */
VOREX_C_API size_t VOREX_C_CALL vorex_c_list_count(const vorex_c_session_list* list);
/* The index-th session of the list, owned by the list and valid until the
   list is freed; null when index is out of range. */
VOREX_C_API vorex_c_session* VOREX_C_CALL vorex_c_list_session(const vorex_c_session_list* list, size_t index);
/* Frees the list and its handles; sessions that other handles share stay
   open. A null list is ignored. */
VOREX_C_API void VOREX_C_CALL vorex_c_free_list(vorex_c_session_list* list);

/* A disconnected session for the sensor `info` describes (a record kept from
   an earlier search), whose first request carries first_counter. Null for a
   null info or when memory ran out. Free it with vorex_c_free_session. */
VOREX_C_API vorex_c_session* VOREX_C_CALL vorex_c_open(const vorex_c_device_info_t* info, uint16_t first_counter);
/* A second handle to the same session (shared ownership): the session lives
   until its last handle is freed. Use it to keep a session beyond its list. */
VOREX_C_API vorex_c_session* VOREX_C_CALL vorex_c_share(const vorex_c_session* session);
/* Frees a handle from vorex_c_open or vorex_c_share; the session's sockets
   close with its last handle. A null handle, or one a list owns, is
   ignored. */
VOREX_C_API void VOREX_C_CALL vorex_c_free_session(vorex_c_session* session);

VOREX_C_API int VOREX_C_CALL vorex_c_connect(vorex_c_session* session);
VOREX_C_API void VOREX_C_CALL vorex_c_disconnect(vorex_c_session* session);
/* The session's device record and writable parameter cache, valid while
   the handle is; null for a null handle. */
VOREX_C_API const vorex_c_device_info_t* VOREX_C_CALL vorex_c_info(const vorex_c_session* session);
VOREX_C_API vorex_c_user_params_t* VOREX_C_CALL vorex_c_params(vorex_c_session* session);
/* The process-wide text of the last failure (vorex::error_msg); null for a
   null handle. */
VOREX_C_API const char* VOREX_C_CALL vorex_c_error_msg(vorex_c_session* session);

/* The whole parameter block, through the session's cache. params may be
   null, as for the class: a read then fills only the cache, a write sends
   the cache as it is. */
VOREX_C_API int VOREX_C_CALL vorex_c_read_params(vorex_c_session* session, vorex_c_user_params_t* params);
VOREX_C_API int VOREX_C_CALL vorex_c_write_params(vorex_c_session* session, vorex_c_user_params_t* params);
VOREX_C_API int VOREX_C_CALL vorex_c_flush_params(vorex_c_session* session);
VOREX_C_API int VOREX_C_CALL vorex_c_reset_params(vorex_c_session* session); /* always 0 */
VOREX_C_API int VOREX_C_CALL vorex_c_reboot(vorex_c_session* session);

/* The size in bytes of group `group` (a vorex_c_group); 0 for any other
   index. */
VOREX_C_API size_t VOREX_C_CALL vorex_c_group_size(int group);
/* The group operations (vorex::read_general_params ... write_outputs_params)
   by group index. record may be null (the cache alone); otherwise it holds
   `size` bytes, at least the group's size, or the call is refused. */
VOREX_C_API int VOREX_C_CALL vorex_c_read_group(vorex_c_session* session, int group, void* record, size_t size);
VOREX_C_API int VOREX_C_CALL vorex_c_write_group(vorex_c_session* session, int group, void* record, size_t size);

/* Takes the next profile (vorex::get_result), waiting at most one receive
   timeout. On success *header holds the profile's header, the first
   *point_count entries of points its decoded points and, when raw_values is
   given, the first *raw_count entries of raw_values its raw values (the
   class's raw_values: every sample of the single-value types).
   raw_values and raw_count may be null. When the profile does not fit
   (more points than point_capacity, or more raw values than raw_capacity
   with raw_values given) the result is 0, the profile is dropped and the
   counts say how many entries it needed; VOREX_C_MAX_POINTS always fits.
   When no profile was taken the result is 0 and the counts are 0. */
VOREX_C_API int VOREX_C_CALL vorex_c_get_result(vorex_c_session* session, vorex_c_profile_header_t* header,
                                                vorex_c_point_t* points, size_t point_capacity, size_t* point_count,
                                                uint16_t* raw_values, size_t raw_capacity, size_t* raw_count);
/* Fetches the sensor's image (vorex::get_image) into `image`, which holds
   `size` bytes; a size below VOREX_C_IMAGE_SIZE is refused. 1 only when
   the whole image arrived. */
VOREX_C_API int VOREX_C_CALL vorex_c_get_image(vorex_c_session* session, unsigned char* image, size_t size);

/* Uploads the firmware file at `path` and checks the sensor's checksum of
   it; progress, when given, is called with `context` after every answered
   chunk. */
VOREX_C_API int VOREX_C_CALL vorex_c_write_firmware_image(vorex_c_session* session, const char* path,
                                                          vorex_c_progress_fn progress, void* context);
VOREX_C_API int VOREX_C_CALL vorex_c_flush_firmware_image(vorex_c_session* session);

/* Reads `count` (1..240) log records starting at `index` into `records`. */
VOREX_C_API int VOREX_C_CALL vorex_c_read_log(vorex_c_session* session, unsigned int index,
                                              vorex_c_log_record_t* records, int count);
/* The number of records in the sensor's log, as the class returns it: 0 on
   failure (and for a null handle). */
VOREX_C_API unsigned int VOREX_C_CALL vorex_c_read_log_record_count(vorex_c_session* session);
/* The same exchange with failure told apart from an empty log: 1 with the
   sensor's number of records in *count when its reply came; 0 otherwise,
   *count untouched. */
VOREX_C_API int VOREX_C_CALL vorex_c_read_log_record_count_checked(vorex_c_session* session, unsigned int* count);

#ifdef __cplusplus
}
#endif

#endif
