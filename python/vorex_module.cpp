// The Python module `vorex._vorex`: the class `vorex` reached from Python,
// with NumPy arrays for profiles and images. It links the shared library
// and uses the public header only, like any other user.
//
// Every call that can wait on the network releases the GIL; the firmware
// progress callable takes it back for each call.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl/filesystem.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "failure_text.h"
#include "group_members.h"
#include "height_map.h"
#include "vorex.h"

namespace py = pybind11;

namespace {

constexpr int image_width = 648;
constexpr int image_height = 488;
constexpr std::size_t image_size = static_cast<std::size_t>(image_width) * image_height;
constexpr int max_log_records = 240;

// A failed operation: the library's text, or what it means when the text
// says nothing.
struct failure {
    std::string operation;
    std::string message;
};

// vorex.Error. Held for the life of the process and never released: a
// static py::object would drop its reference after the interpreter ended.
PyObject* error_type = nullptr;

const char* const not_running = "the library is not running: call vorex.init() first or use vorex.library()";

// Whether init() was called last, not cleanup(). Read and written with the
// GIL held.
bool library_running = false;

// The library leaves "No error" after a failure it has no message for, and
// an empty text outside init/cleanup; neither helps a caller as it stands.
std::string explain(const std::string& operation, const char* text) {
    if (text == nullptr || *text == '\0') return not_running;
    return vorexctl::failure_reason(operation, text);
}

// Why a log read failed when the library does not say: a position past the
// log's end, or a reply of another number of records (the sensor decides
// how many it sends), when the sensor still told its count.
std::string log_read_failure(unsigned int index, int count, const std::string& text, bool counted, unsigned int total) {
    if (text != "No error" || !counted) return explain("read_log", text.c_str());
    if (index >= total)
        return "index " + std::to_string(index) + " is past the end of the log (" + std::to_string(total) + " records)";
    return "the sensor sent no reply of exactly " + std::to_string(count) + " records from index " +
           std::to_string(index) + "; its log holds " + std::to_string(total);
}

// A progress callable runs while the library holds its service lock: any
// further call into the library from it would wait for itself.
thread_local bool inside_progress = false;

void refuse_inside_progress() {
    if (inside_progress) throw failure{"progress", "the library cannot be called from a progress callable"};
}

// Copies a bytes-like argument that is exactly `size` C-contiguous bytes
// into `out`; TypeError for a buffer whose bytes do not lie in one run
// from its start (a reversed or strided view), ValueError for another
// size. Nothing is read before both checks.
void copy_exact_bytes(const py::buffer& data, void* out, std::size_t size, const std::string& what) {
    Py_buffer view;
    if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) {
        PyErr_Clear();
        throw py::type_error(what + " takes C-contiguous bytes (bytes, bytearray or a contiguous buffer)");
    }
    struct release {
        Py_buffer& view;
        ~release() { PyBuffer_Release(&view); }
    } released{view};
    const auto given = static_cast<std::size_t>(view.len);
    if (given != size)
        throw py::value_error(what + " takes " + std::to_string(size) + " bytes, not " + std::to_string(given));
    std::memcpy(out, view.buf, size);
}

// "5", "0.5": seconds as the user wrote them.
std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// Calls of this module inside the library, on any thread: cleanup() is
// refused while there are any. Counted while the GIL is held.
int calls_in_flight = 0;

struct in_library {
    in_library() { ++calls_in_flight; }
    ~in_library() { --calls_in_flight; }
    in_library(const in_library&) = delete;
    in_library& operator=(const in_library&) = delete;
};

void cleanup() {
    if (calls_in_flight > 0)
        throw failure{"cleanup", "other threads are still inside the library (" + std::to_string(calls_in_flight) +
                                     " calls): let them return before cleanup()"};
    library_running = false;
    py::gil_scoped_release release;
    vorex::cleanup();
}

class device_info {
public:
    explicit device_info(const vorex_device_info_t& record) : record_(record) {}

    static device_info from_bytes(const py::buffer& data) {
        vorex_device_info_t record;
        copy_exact_bytes(data, &record, sizeof record, "a device record");
        return device_info(record);
    }

    const vorex_device_info_t& record() const { return record_; }
    std::uint32_t serial() const { return record_.serial; }
    std::string ip() const { return dotted(record_.ip_address); }
    std::string mask() const { return dotted(record_.subnet_mask); }
    std::string mac() const {
        char text[18];
        const std::uint8_t* m = record_.mac_address;
        std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
        return text;
    }
    std::uint16_t data_port() const { return record_.data_port; }
    std::uint16_t service_port() const { return record_.service_port; }
    std::int32_t image_packet_size() const { return record_.image_packet_size; }
    py::bytes raw() const { return py::bytes(reinterpret_cast<const char*>(&record_), sizeof record_); }

    std::string repr() const {
        return "DeviceInfo(serial=" + std::to_string(serial()) + ", ip='" + ip() + "', mask='" + mask() +
               "', mac='" + mac() + "', data_port=" + std::to_string(data_port()) +
               ", service_port=" + std::to_string(service_port()) +
               ", image_packet_size=" + std::to_string(image_packet_size()) + ")";
    }

private:
    // Stored in network byte order, first octet first.
    static std::string dotted(std::uint32_t address) {
        std::uint8_t b[4];
        std::memcpy(b, &address, 4);
        return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
               std::to_string(b[3]);
    }

    vorex_device_info_t record_;
};

struct profile {
    py::bytes header;
    py::array_t<double> points;
    py::array_t<std::uint16_t> raw_values;
    int data_type;
    int x_scale;
    int z_scale;
    int scale_divisor;
};

// Profiles taken in one call: every header in one array, every point in
// another, so that a batch costs a few allocations whatever its size.
struct profile_batch {
    py::array_t<std::uint8_t> headers;   // (n, 64)
    py::array_t<double> points;          // (total, 2)
    py::array_t<std::int64_t> offsets;   // (n + 1,): profile i is points[offsets[i]:offsets[i + 1]]
    py::array_t<std::int64_t> received;  // (n,): arrival of each, ns since the Unix epoch
    int malformed = 0;
};

// A NumPy array over a vector's storage, which the array then owns: no copy.
template <typename T>
py::array_t<T> array_owning(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
    auto* owned = new std::vector<T>(std::move(values));
    py::capsule release(owned, [](void* v) { delete static_cast<std::vector<T>*>(v); });
    return py::array_t<T>(std::move(shape), owned->data(), release);
}

using vorexctl::group_entry;
using vorexctl::groups;
using vorexctl::whole_block;

const group_entry& group_named(const std::string& name) {
    for (const group_entry& g : groups)
        if (name == g.name) return g;
    std::string known;
    for (const group_entry& g : groups) known += std::string(known.empty() ? "" : ", ") + g.name;
    throw py::key_error("no parameter group '" + name + "'; the groups are " + known);
}

// The bytes of a bytes-like argument, which must be exactly `size` long:
// checked before anything is sent.
std::vector<std::uint8_t> exact_bytes(const py::buffer& data, std::size_t size, const std::string& what) {
    std::vector<std::uint8_t> bytes(size);
    copy_exact_bytes(data, bytes.data(), size, what);
    return bytes;
}

class sensor {
public:
    sensor(const vorex_device_info_t& record, std::uint16_t first_counter)
        : session_(std::make_shared<vorex>(&record, first_counter)) {}
    explicit sensor(std::shared_ptr<vorex> session) : session_(std::move(session)) {}

    device_info info() const { return device_info(session_->info()); }
    py::bytes cached_params() const {
        return py::bytes(reinterpret_cast<const char*>(&session_->params()), sizeof(vorex_user_params_t));
    }
    std::string error_msg() const { return session_->error_msg(); }
    bool connected() const { return connected_; }

    void connect() {
        run("connect", [&](vorex& s) { return s.connect(); }, false);
        connected_ = true;
    }
    void disconnect() {
        refuse_inside_progress();
        session_->disconnect();
        connected_ = false;
    }

    py::bytes read_block(const group_entry& g) {
        std::vector<std::uint8_t> out(g.size);
        run(g.read_name, [&](vorex& s) { return g.read(s, out.data()); });
        return py::bytes(reinterpret_cast<const char*>(out.data()), out.size());
    }
    void write_block(const group_entry& g, const py::buffer& data) {
        const std::vector<std::uint8_t> in = exact_bytes(data, g.size, g.write_name.c_str());
        run(g.write_name, [&](vorex& s) { return g.write(s, in.data()); });
    }
    py::bytes read_params() { return read_block(whole_block); }
    void write_params(const py::buffer& data) { write_block(whole_block, data); }
    py::bytes read_group(const std::string& name) { return read_block(group_named(name)); }
    void write_group(const std::string& name, const py::buffer& data) { write_block(group_named(name), data); }
    void flush_params() { run("flush_params", [](vorex& s) { return s.flush_params(); }); }
    void reset_params() { run("reset_params", [](vorex& s) { return s.reset_params(); }); }
    void reboot() { run("reboot", [](vorex& s) { return s.reboot(); }); }

    // None when no profile came within the wait. The points go from the
    // session's record into the new array in one copy; the record keeps
    // its storage from call to call, as the library intends.
    py::object get_result() {
        refuse_inside_progress();
        require_connected("get_result");
        // Threads sharing one Sensor take turns on its profile record. The
        // lock is taken without the GIL, so no thread holds both while it
        // waits for the other.
        std::unique_lock<std::mutex> lock(profile_lock_, std::defer_lock);
        bool ok;
        std::string text;
        in_library counted;
        {
            py::gil_scoped_release release;
            lock.lock();
            ok = session_->get_result(scratch_);
            if (!ok) text = session_->error_msg();
        }
        if (!ok) {
            if (text == "No error") return py::none();
            throw failure{"get_result", explain("get_result", text.c_str())};
        }
        return py::cast(make_profile());
    }

    // Up to `count` profiles in one call, the GIL released throughout. Ends
    // with fewer once `timeout` seconds have passed since the call and a
    // receive comes back empty (each waits up to 100 ms). Malformed
    // datagrams are passed over and counted.
    profile_batch get_results(int count, double timeout) {
        refuse_inside_progress();
        require_connected("get_results");
        if (count < 0) throw py::value_error("get_results takes a count of 0 or more, not " + std::to_string(count));
        std::vector<std::uint8_t> headers;
        std::vector<double> points;
        std::vector<std::int64_t> offsets{0};
        std::vector<std::int64_t> received;
        int malformed = 0;
        std::unique_lock<std::mutex> lock(profile_lock_, std::defer_lock);
        in_library counted;
        {
            py::gil_scoped_release release;
            lock.lock();
            headers.reserve(static_cast<std::size_t>(count) * sizeof(vorex_profile_header_t));
            offsets.reserve(static_cast<std::size_t>(count) + 1);
            received.reserve(static_cast<std::size_t>(count));
            vorex_receive_time at{};
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
            while (static_cast<int>(offsets.size()) <= count) {
                if (!session_->get_result(scratch_, at)) {
                    if (std::strcmp(session_->error_msg(), "No error") != 0) ++malformed;
                    else if (std::chrono::steady_clock::now() >= give_up) break;
                    continue;
                }
                const auto* h = reinterpret_cast<const std::uint8_t*>(&scratch_.header);
                headers.insert(headers.end(), h, h + sizeof scratch_.header);
                const auto* xz = reinterpret_cast<const double*>(scratch_.points.data());
                if (points.empty()) points.reserve(static_cast<std::size_t>(count) * 2 * scratch_.points.size());
                points.insert(points.end(), xz, xz + 2 * scratch_.points.size());
                offsets.push_back(static_cast<std::int64_t>(points.size() / 2));
                received.push_back(at.time_since_epoch().count());
            }
        }
        profile_batch batch;
        const auto n = static_cast<py::ssize_t>(offsets.size() - 1);
        const auto total = static_cast<py::ssize_t>(points.size() / 2);
        batch.headers = array_owning(std::move(headers), {n, static_cast<py::ssize_t>(sizeof(vorex_profile_header_t))});
        batch.points = array_owning(std::move(points), {total, py::ssize_t{2}});
        batch.offsets = array_owning(std::move(offsets), {n + 1});
        batch.received = array_owning(std::move(received), {n});
        batch.malformed = malformed;
        return batch;
    }

    // `count` profiles stacked into a height map, the GIL released while
    // they arrive and while they are laid out: (heights, grid fields).
    // Raises when no profile comes for `idle` seconds.
    py::tuple scan(int count, double pitch, double speed, double x_step, double idle) {
        refuse_inside_progress();
        require_connected("scan");
        if (count < 1) throw py::value_error("scan takes a count of 1 or more, not " + std::to_string(count));
        if ((pitch > 0) == (speed > 0)) throw py::value_error("scan takes a pitch or a speed above 0, one of them");
        if (!(x_step >= 0)) throw py::value_error("scan takes an x_step above 0, or 0 for the sensor's own");
        vorex_scan::scan_assembly assembly;
        vorex_scan::height_map map;
        bool silent = false;
        std::unique_lock<std::mutex> lock(profile_lock_, std::defer_lock);
        in_library counted;
        {
            py::gil_scoped_release release;
            lock.lock();
            vorex_receive_time at{};
            const auto limit = std::chrono::duration<double>(idle);
            auto last = std::chrono::steady_clock::now();
            while (assembly.size() < static_cast<std::size_t>(count)) {
                if (session_->get_result(scratch_, at)) {
                    assembly.add(scratch_.points, at.time_since_epoch());
                    last = std::chrono::steady_clock::now();
                } else if (std::chrono::steady_clock::now() - last >= limit) {
                    silent = true;
                    break;
                }
            }
            if (!silent) map = assembly.build({pitch, speed, x_step});
        }
        const std::string got = std::to_string(assembly.size()) + " received";
        if (silent) throw failure{"scan", "no profile for " + seconds_text(idle) + " s (" + got + ")"};
        if (map.rows == 0) throw failure{"scan", "no point measured in " + got + " profiles"};
        py::dict grid;
        grid["x_origin"] = map.x_origin;
        grid["x_step"] = map.x_step;
        grid["y_step"] = map.y_step;
        grid["profiles"] = map.profiles;
        grid["lost"] = map.missing_rows;
        const auto rows = static_cast<py::ssize_t>(map.rows), columns = static_cast<py::ssize_t>(map.columns);
        return py::make_tuple(array_owning(std::move(map.z), {rows, columns}), grid);
    }

    py::array_t<std::uint8_t> get_image() {
        py::array_t<std::uint8_t> image({image_height, image_width});
        std::uint8_t* pixels = image.mutable_data();
        run("get_image", [&](vorex& s) { return s.get_image(pixels); });
        return image;
    }

    void write_firmware_image(const std::filesystem::path& path, const py::object& progress) {
        std::optional<py::error_already_set> raised;
        vorex::progress_callback report;
        if (!progress.is_none()) {
            report = [&](std::uint64_t done, std::uint64_t total) {
                py::gil_scoped_acquire acquire;
                if (raised) return;
                struct mark {
                    mark() { inside_progress = true; }
                    ~mark() { inside_progress = false; }
                } marked;
                try {
                    progress(done, total);
                } catch (py::error_already_set& e) {
                    raised.emplace(std::move(e));
                }
            };
        }
        refuse_inside_progress();
        require_connected("write_firmware_image");
        // What the file is can be told before anything is sent; a missing
        // one is the library's to report.
        const std::string unusable = vorexctl::unusable_firmware_file(path);
        if (!unusable.empty()) throw failure{"write_firmware_image", unusable};
        bool ok;
        std::string text;
        in_library counted;
        {
            py::gil_scoped_release release;
            ok = report ? session_->write_firmware_image(path.c_str(), report)
                        : session_->write_firmware_image(path.c_str());
            if (!ok) text = session_->error_msg();
        }
        // The upload cannot be stopped from the callable; what it raised
        // comes out once the library is done.
        if (raised) throw std::move(*raised);
        if (!ok) throw failure{"write_firmware_image", explain("write_firmware_image", text.c_str())};
    }
    void flush_firmware_image() {
        run("flush_firmware_image", [](vorex& s) { return s.flush_firmware_image(); });
    }

    py::list read_log(unsigned int index, int count) {
        if (count < 1 || count > max_log_records)
            throw py::value_error("read_log takes 1 to " + std::to_string(max_log_records) + " records, not " +
                                  std::to_string(count));
        refuse_inside_progress();
        require_connected("read_log");
        std::vector<vorex_log_record_t> records(static_cast<std::size_t>(count));
        bool ok, counted = false;
        unsigned int total = 0;
        std::string text;
        in_library in_call;
        {
            py::gil_scoped_release release;
            ok = session_->read_log(index, records.data(), count);
            if (!ok) {
                text = session_->error_msg();
                if (text == "No error") counted = session_->read_log_record_count(total);
            }
        }
        if (!ok) throw failure{"read_log", log_read_failure(index, count, text, counted, total)};
        py::list out;
        for (const vorex_log_record_t& r : records)
            out.append(py::bytes(reinterpret_cast<const char*>(r.bytes), sizeof r.bytes));
        return out;
    }
    unsigned int read_log_record_count() {
        unsigned int n = 0;
        run("read_log_record_count", [&](vorex& s) { return s.read_log_record_count(n); });
        return n;
    }

private:
    // Runs one library call without the GIL and turns a false result into
    // vorex.Error with the text the call left.
    template <typename F>
    void run(const std::string& operation, F&& call, bool needs_connection = true) {
        refuse_inside_progress();
        if (needs_connection) require_connected(operation);
        bool ok;
        std::string text;
        in_library counted;
        {
            py::gil_scoped_release release;
            ok = call(*session_);
            if (!ok) text = session_->error_msg();
        }
        if (!ok) throw failure{operation, explain(operation, text.c_str())};
    }

    void require_connected(const std::string& operation) const {
        if (!connected_) throw failure{operation, "not connected: call connect() first"};
    }

    std::unique_ptr<profile> make_profile() const {
        const vorex_profile_header_t& h = scratch_.header;
        auto made = std::make_unique<profile>();
        profile& p = *made;
        p.header = py::bytes(reinterpret_cast<const char*>(&h), sizeof h);
        p.data_type = h.data_type;
        p.x_scale = h.x_scale;
        p.z_scale = h.z_scale;
        p.scale_divisor = h.scale_divisor;
        const auto n = static_cast<py::ssize_t>(scratch_.points.size());
        p.points = py::array_t<double>({n, py::ssize_t{2}});
        static_assert(sizeof(vorex_point_t) == 2 * sizeof(double), "a point is two doubles");
        if (n > 0) std::memcpy(p.points.mutable_data(), scratch_.points.data(), scratch_.points.size() * sizeof(vorex_point_t));
        // Only the single-value types fill raw_values; for the pair types
        // the library leaves whatever earlier profiles put there.
        const bool single_value = h.data_type == 16 || h.data_type == 18;
        const auto raw = static_cast<py::ssize_t>(single_value ? scratch_.raw_values.size() : 0);
        p.raw_values = py::array_t<std::uint16_t>(raw);
        if (raw > 0)
            std::memcpy(p.raw_values.mutable_data(), scratch_.raw_values.data(),
                        scratch_.raw_values.size() * sizeof(std::uint16_t));
        return made;
    }

    std::shared_ptr<vorex> session_;
    bool connected_ = false;
    std::mutex profile_lock_;
    vorex_profile scratch_;
};

py::list search() {
    refuse_inside_progress();
    // Outside init the library finds nothing and says nothing.
    if (!library_running) throw failure{"search", not_running};
    std::vector<std::shared_ptr<vorex>> found;
    {
        in_library counted;
        py::gil_scoped_release release;
        found = vorex::search();
    }
    py::list out;
    for (auto& s : found) out.append(py::cast(std::make_unique<sensor>(std::move(s))));
    return out;
}

py::dict group_sizes() {
    py::dict sizes;
    for (const group_entry& g : groups) sizes[g.name] = g.size;
    return sizes;
}

}  // namespace

PYBIND11_MODULE(_vorex, m) {
    m.doc() = "Bindings of the vorex client library for network laser profile sensors.";

    error_type = PyErr_NewExceptionWithDoc(
        "vorex.Error",
        "A library operation failed. str(error) is the library's own message, or what the failure means "
        "where the library reports no message; `operation` names the call.",
        PyExc_RuntimeError, nullptr);
    if (error_type == nullptr) throw py::error_already_set();
    m.attr("Error") = py::handle(error_type);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const failure& f) {
            py::object e = py::handle(error_type)(f.message);
            e.attr("operation") = f.operation;
            PyErr_SetObject(error_type, e.ptr());
        }
    });

    m.def("version", &vorex::version, "The library's version, 0x13041600. Needs no init().");
    m.def("init", [] {
              bool started;
              {
                  py::gil_scoped_release release;
                  started = vorex::init();
              }
              library_running = true;
              return started;
          },
          "Starts the library: the socket layer, a snapshot of the host's IPv4 addresses, the buffers.\n"
          "True when the socket layer started. Pair with cleanup(), or use `with vorex.library():`.");
    m.def("cleanup", &cleanup,
          "Frees what init() set up. Sensors still open keep their sockets until disconnected.\n"
          "Raises vorex.Error while another thread is inside a call of this module.");
    m.def("search", &search,
          "Broadcasts a discovery request from every host address and returns a disconnected Sensor\n"
          "for each sensor that answered, in the order found. Takes a few seconds.");
    m.attr("GROUPS") = group_sizes();
    m.attr("PARAMS_SIZE") = sizeof(vorex_user_params_t);
    m.attr("IMAGE_SHAPE") = py::make_tuple(image_height, image_width);
    m.attr("LOG_RECORD_SIZE") = sizeof(vorex_log_record_t);
    m.attr("MAX_LOG_RECORDS") = max_log_records;

    py::class_<device_info>(m, "DeviceInfo",
                            "The 524-byte device record a sensor reports in discovery, with its used fields decoded.")
        .def(py::init(&device_info::from_bytes), py::arg("record"), "A record from its 524 raw bytes.")
        .def_property_readonly("serial", &device_info::serial)
        .def_property_readonly("ip", &device_info::ip, "The sensor's IPv4 address, dotted.")
        .def_property_readonly("mask", &device_info::mask, "Its subnet mask, dotted.")
        .def_property_readonly("mac", &device_info::mac, "Its MAC address, aa:bb:cc:dd:ee:ff.")
        .def_property_readonly("data_port", &device_info::data_port, "The host port profiles go to.")
        .def_property_readonly("service_port", &device_info::service_port, "The sensor's service port.")
        .def_property_readonly("image_packet_size", &device_info::image_packet_size,
                               "Image bytes per datagram; 0 means 32754.")
        .def_property_readonly("raw", &device_info::raw, "All 524 bytes as the sensor sent them.")
        .def("__repr__", &device_info::repr);

    py::class_<profile>(m, "Profile", "One measured profile: its 64-byte header and the decoded points.")
        .def_readonly("header", &profile::header, "The 64 header bytes as received.")
        .def_readonly("points", &profile::points,
                      "(N, 2) float64 array of (x, z), one row per point with a measurement, by index.")
        .def_readonly("raw_values", &profile::raw_values,
                      "uint16 samples of every index for the single-value types 16 and 18; empty otherwise.")
        .def_readonly("data_type", &profile::data_type, "16..19.")
        .def_readonly("x_scale", &profile::x_scale)
        .def_readonly("z_scale", &profile::z_scale)
        .def_readonly("scale_divisor", &profile::scale_divisor)
        .def("__len__", [](const profile& p) { return p.points.shape(0); })
        .def("__repr__", [](const profile& p) {
            return "Profile(data_type=" + std::to_string(p.data_type) + ", points=" +
                   std::to_string(p.points.shape(0)) + ")";
        });

    py::class_<profile_batch>(m, "ProfileBatch",
                              "Profiles taken by one get_results call. Profile i's points are\n"
                              "points[offsets[i]:offsets[i + 1]]; its header is headers[i] (byte 0 the data type).")
        .def_readonly("headers", &profile_batch::headers, "(n, 64) uint8 array: each profile's header as received.")
        .def_readonly("points", &profile_batch::points, "(total, 2) float64 array of (x, z) of every profile in turn.")
        .def_readonly("offsets", &profile_batch::offsets, "(n + 1,) int64 array: where each profile's points begin.")
        .def_readonly("received", &profile_batch::received,
                      "(n,) int64 array: when each profile's datagram reached the host, in ns since the Unix "
                      "epoch (the kernel's receive time on Linux).")
        .def_readonly("malformed", &profile_batch::malformed, "Malformed datagrams passed over meanwhile.")
        .def("__len__", [](const profile_batch& b) { return b.offsets.shape(0) - 1; })
        .def("__repr__", [](const profile_batch& b) {
            return "ProfileBatch(profiles=" + std::to_string(b.offsets.shape(0) - 1) + ", points=" +
                   std::to_string(b.points.shape(0)) + ")";
        });

    py::class_<sensor>(m, "Sensor",
                       "A session with one sensor. Made by search(), or from a device record kept from an\n"
                       "earlier search: Sensor(record, first_counter). Use connect()/disconnect() or `with`.")
        .def(py::init([](const py::buffer& record, std::uint16_t first_counter) {
                 return std::make_unique<sensor>(device_info::from_bytes(record).record(), first_counter);
             }),
             py::arg("record"), py::arg("first_counter") = 0,
             "A disconnected session for the sensor the 524-byte record describes; its first request\n"
             "carries first_counter.")
        .def(py::init([](const device_info& info, std::uint16_t first_counter) {
                 return std::make_unique<sensor>(info.record(), first_counter);
             }),
             py::arg("info"), py::arg("first_counter") = 0)
        .def_property_readonly("info", &sensor::info, "The sensor's device record (DeviceInfo).")
        .def_property_readonly("connected", &sensor::connected)
        .def("cached_params", &sensor::cached_params,
             "The session's copy of the 1400-byte parameter block, as the latest reads and writes left it.")
        .def("error_msg", &sensor::error_msg, "The library's text of the last failure (process-wide).")
        .def("connect", &sensor::connect,
             "Opens the service and data sockets on the host address in the sensor's subnet.")
        .def("disconnect", &sensor::disconnect, "Closes both sockets.")
        .def("__enter__",
             [](py::object self) {
                 self.cast<sensor&>().connect();
                 return self;
             })
        .def("__exit__", [](sensor& s, const py::args&) { s.disconnect(); })
        .def("read_params", &sensor::read_params, "The whole 1400-byte parameter block, as bytes.")
        .def("write_params", &sensor::write_params, py::arg("data"),
             "Sends a whole block of exactly 1400 bytes (bytes-like).")
        .def("flush_params", &sensor::flush_params, "Makes the sensor persist its parameters.")
        .def("reset_params", &sensor::reset_params, "Not implemented by the library: always raises.")
        .def("reboot", &sensor::reboot, "Restarts the sensor.")
        .def("read_group", &sensor::read_group, py::arg("name"), "One parameter group by name (see GROUPS), as bytes.")
        .def("write_group", &sensor::write_group, py::arg("name"), py::arg("data"),
             "Sends one group; data must have the group's size exactly (checked before sending).")
        .def("get_result", &sensor::get_result,
             "The next profile, or None when none came within the wait (~100 ms). Raises on a malformed one.")
        .def("get_results", &sensor::get_results, py::arg("count"), py::arg("timeout") = 1.0,
             "Up to `count` profiles in one call, as one ProfileBatch, with the GIL released throughout.\n"
             "Fewer once `timeout` seconds have passed since the call and no profile came within one receive\n"
             "timeout (100 ms). Malformed datagrams are passed over and counted in `malformed`.")
        .def("_scan", &sensor::scan, py::arg("count"), py::arg("pitch"), py::arg("speed"), py::arg("x_step"),
             py::arg("idle"), "The height map of vorex.scan() and its grid as a dict; use vorex.scan().")
        .def("get_image", &sensor::get_image, "The sensor's image as a (488, 648) uint8 array.")
        .def("write_firmware_image", &sensor::write_firmware_image, py::arg("path"), py::arg("progress") = py::none(),
             "Uploads a firmware file and checks the sensor's checksum. progress(done, total) is called after\n"
             "every answered chunk; it must not call the library, and what it raises comes out at the end.")
        .def("flush_firmware_image", &sensor::flush_firmware_image,
             "Has the sensor commit the uploaded firmware (can take up to ~100 s).")
        .def("read_log", &sensor::read_log, py::arg("index"), py::arg("count"),
             "count (1..240) log records from index on, each 136 bytes. The sensor decides how many it sends\n"
             "from index on; the call succeeds only when that is count.")
        .def("read_log_record_count", &sensor::read_log_record_count,
             "The number of records in the sensor's log; raises vorex.Error when the sensor did not answer.")
        .def("__repr__", [](const sensor& s) { return "Sensor(" + s.info().repr() + ")"; });
}
