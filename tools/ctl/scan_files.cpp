#include "scan_files.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "files.h"
#include "picture.h"

namespace vorexctl {

namespace {

using vorex_scan::cloud_point;
using vorex_scan::height_map;

void append_f32_le(std::string& out, double value) {
    const float f = static_cast<float>(value);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

std::string binary_points(const std::vector<cloud_point>& cloud, double unit) {
    std::string out;
    out.reserve(cloud.size() * 12);
    for (const cloud_point& p : cloud) {
        append_f32_le(out, p.x * unit);
        append_f32_le(out, p.y * unit);
        append_f32_le(out, p.z * unit);
    }
    return out;
}

std::string number(double value, const char* format = "%.6g") {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Where the grid lies, in words, for the files that carry a description.
std::string grid_description(const height_map& map) {
    return "vorex scan: " + std::to_string(map.columns) + " x " + std::to_string(map.rows) +
           " cells; column 0 at X " + number(map.x_origin) + " mm, X step " + number(map.x_step) +
           " mm, Y step " + number(map.y_step) + " mm; Z in mm from the sensor";
}

// libpng reports an error by longjmp; nothing with a destructor lives in
// the frame that calls setjmp.
struct png_writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t>* out = nullptr;
    char message[200] = "";
    ~png_writer() { png_destroy_write_struct(&png, &info); }
};

void png_append(png_structp png, png_bytep data, png_size_t size) {
    auto* w = static_cast<png_writer*>(png_get_io_ptr(png));
    w->out->insert(w->out->end(), data, data + size);
}

void png_fail(png_structp png, png_const_charp message) {
    auto* w = static_cast<png_writer*>(png_get_error_ptr(png));
    std::snprintf(w->message, sizeof w->message, "%s", message);
    png_longjmp(png, 1);
}

bool png_write_all(png_writer& w, const png_rows& picture, std::vector<png_text>& texts,
                   std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_set_write_fn(w.png, &w, png_append, nullptr);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
                 picture.rgb ? 8 : 16, picture.rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!texts.empty()) png_set_text(w.png, w.info, texts.data(), static_cast<int>(texts.size()));
    png_write_info(w.png, w.info);
    if (!picture.rgb) png_set_swap(w.png);  // PNG keeps 16-bit samples big-endian
    png_write_image(w.png, rows.data());
    png_write_end(w.png, nullptr);
    return true;
}

bool write_tiff(const std::string& path, const height_map& map, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(create_file(path), &std::fclose);
    if (!file) {
        *error = create_error(path);
        return false;
    }
    // libtiff closes the descriptor it is given: it gets a copy of ours.
    const int fd = dup(fileno(file.get()));
    TIFF* tiff = fd < 0 ? nullptr : TIFFFdOpen(fd, path.c_str(), "w");
    if (!tiff) {
        if (fd >= 0) close(fd);
        *error = "cannot write " + path + ": libtiff refused it";
        return false;
    }
    const std::string description = grid_description(map) + "; NaN: no measurement";
    // The resolution is cells per centimetre, which readers turn back
    // into the step (10 mm / resolution).
    const auto per_cm = [](double step) { return static_cast<float>(step > 0 ? 10.0 / step : 1.0); };
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(map.columns));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(map.rows));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, per_cm(map.x_step));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, per_cm(map.y_step));
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, "vorexctl scan");
    bool written = true;
    std::vector<float> row(map.columns);
    for (std::size_t r = 0; written && r < map.rows; ++r) {
        std::memcpy(row.data(), &map.z[r * map.columns], map.columns * sizeof(float));
        written = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(r), 0) == 1;
    }
    written = written && TIFFFlush(tiff) == 1;  // the directory too: TIFFClose reports nothing
    TIFFClose(tiff);
    if (!written || std::fflush(file.get()) != 0) {
        *error = "cannot write " + path + (errno ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    return true;
}

png_rows gray16_picture(const height_map& map) {
    const gray16_scale scale = gray16_scale_for(map);
    png_rows p;
    p.width = static_cast<int>(map.columns);
    p.height = static_cast<int>(map.rows);
    p.rgb = false;
    p.grey_pixels.resize(map.z.size());
    for (std::size_t i = 0; i < map.z.size(); ++i)
        p.grey_pixels[i] = std::isnan(map.z[i])
                               ? 0
                               : static_cast<std::uint16_t>(std::lround((map.z[i] - scale.offset) / scale.step) + 1);
    p.text = {{"Description", grid_description(map)},
              {"vorex:z", "Z mm = " + number(scale.offset, "%.6f") + " + (value - 1) * " + number(scale.step, "%.9g") +
                              "; 0: no measurement"},
              {"vorex:z_offset_mm", number(scale.offset, "%.6f")},
              {"vorex:z_step_mm", number(scale.step, "%.9g")},
              {"vorex:x_origin_mm", number(map.x_origin, "%.9g")},
              {"vorex:x_step_mm", number(map.x_step, "%.9g")},
              {"vorex:y_step_mm", number(map.y_step, "%.9g")}};
    return p;
}

}  // namespace

scan_format scan_format_of(const std::string& path, bool gray16) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return scan_format::other;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "tif" || ext == "tiff") return scan_format::tiff;
    if (ext == "png") return gray16 ? scan_format::gray16_png : scan_format::png;
    if (ext == "ply") return scan_format::ply;
    if (ext == "pcd") return scan_format::pcd;
    if (ext == "csv") return scan_format::csv;
    return scan_format::other;
}

std::string ply_cloud(const std::vector<cloud_point>& cloud, double unit) {
    return "ply\nformat binary_little_endian 1.0\ncomment vorex scan, " + std::string(unit == 1 ? "mm" : "m") +
           "\nelement vertex " + std::to_string(cloud.size()) +
           "\nproperty float x\nproperty float y\nproperty float z\nend_header\n" + binary_points(cloud, unit);
}

std::string pcd_cloud(const std::vector<cloud_point>& cloud, double unit) {
    const std::string n = std::to_string(cloud.size());
    return "# .PCD v0.7 - vorex scan, " + std::string(unit == 1 ? "mm" : "m") +
           "\nVERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\nWIDTH " + n +
           "\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " + n + "\nDATA binary\n" + binary_points(cloud, unit);
}

std::string csv_points(const std::vector<cloud_point>& cloud, double unit) {
    std::string out = unit == 1 ? "x_mm,y_mm,z_mm\n" : "x_m,y_m,z_m\n";
    char line[96];
    for (const cloud_point& p : cloud) {
        std::snprintf(line, sizeof line, "%.9g,%.9g,%.9g\n", p.x * unit, p.y * unit, p.z * unit);
        out += line;
    }
    return out;
}

gray16_scale gray16_scale_for(const height_map& map) {
    const vorex_scan::z_range r = vorex_scan::range_of(map);
    gray16_scale s;
    if (!r.found) return s;
    s.offset = r.low;
    const double span = static_cast<double>(r.high) - r.low;
    if (span / s.step > 65534) s.step = span / 65534;
    return s;
}

bool encode_png_rows(const png_rows& picture, std::vector<std::uint8_t>* png, std::string* error) {
    png_writer w;
    w.out = png;
    png->clear();
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, png_fail, nullptr);
    if (w.png) w.info = png_create_info_struct(w.png);
    if (!w.png || !w.info) {
        *error = "PNG encoding failed: out of memory";
        return false;
    }
    std::vector<png_text> texts(picture.text.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
        texts[i].key = const_cast<char*>(picture.text[i].first.c_str());
        texts[i].text = const_cast<char*>(picture.text[i].second.c_str());
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height));
    const std::size_t row_bytes = static_cast<std::size_t>(picture.width) * (picture.rgb ? 3 : 2);
    auto* base = picture.rgb ? const_cast<std::uint8_t*>(picture.rgb_pixels.data())
                             : reinterpret_cast<std::uint8_t*>(const_cast<std::uint16_t*>(picture.grey_pixels.data()));
    for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = base + r * row_bytes;
    if (!png_write_all(w, picture, texts, rows)) {
        *error = std::string("PNG encoding failed: ") + w.message;
        return false;
    }
    return true;
}

bool write_scan(const std::string& path, scan_format format, const height_map& map, bool metres, std::string* error) {
    const double unit = metres ? 0.001 : 1.0;
    std::vector<std::uint8_t> png;
    switch (format) {
    case scan_format::tiff: return write_tiff(path, map, error);
    case scan_format::png:
        return encode_png_rows(scan_picture(map), &png, error) && write_file(path, png, error);
    case scan_format::gray16_png:
        return encode_png_rows(gray16_picture(map), &png, error) && write_file(path, png, error);
    case scan_format::ply: return write_file(path, ply_cloud(vorex_scan::point_cloud(map), unit), error);
    case scan_format::pcd: return write_file(path, pcd_cloud(vorex_scan::point_cloud(map), unit), error);
    case scan_format::csv: return write_file(path, csv_points(vorex_scan::point_cloud(map), unit), error);
    case scan_format::other: break;
    }
    *error = "cannot write " + path + ": not a scan format";
    return false;
}

}  // namespace vorexctl
