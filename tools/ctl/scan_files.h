// The files a scan is written to, chosen by the name's extension: a 32-bit
// float TIFF height map, a colour PNG for people, a 16-bit height PNG,
// binary PLY and PCD point clouds and CSV points. Coordinates are the
// sensor's: X across the line, Y along the travel (row 0 at 0), Z the
// distance from the sensor, all in mm unless the clouds are asked for in
// metres.
#ifndef VOREXCTL_SCAN_FILES_H
#define VOREXCTL_SCAN_FILES_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "height_map.h"

namespace vorexctl {

enum class scan_format { tiff, png, gray16_png, ply, pcd, csv, other };
// By the extension in any letter case (.tif and .tiff alike); .png is the
// 16-bit height PNG when `gray16`.
scan_format scan_format_of(const std::string& path, bool gray16);

// The whole file for `map`; false with a one-line reason. `metres` scales
// the clouds' and the CSV's coordinates (the height maps stay in mm).
bool write_scan(const std::string& path, scan_format format, const vorex_scan::height_map& map, bool metres,
                std::string* error);

// The bytes of each format, for the writer and the tests.
std::string ply_cloud(const std::vector<vorex_scan::cloud_point>& cloud, double unit);
std::string pcd_cloud(const std::vector<vorex_scan::cloud_point>& cloud, double unit);
std::string csv_points(const std::vector<vorex_scan::cloud_point>& cloud, double unit);

// The 16-bit PNG's scale: a cell's Z in mm is offset + (value - 1) * step;
// value 0 is a missing cell. A micrometre a count when the range fits.
struct gray16_scale {
    double offset = 0;
    double step = 0.001;
};
gray16_scale gray16_scale_for(const vorex_scan::height_map& map);

// A PNG of 8-bit RGB or 16-bit grey rows (each `width` samples, 16-bit
// ones in the machine's order) with tEXt chunks; false with libpng's
// reason.
struct png_rows {
    int width = 0;
    int height = 0;
    bool rgb = true;                                // false: 16-bit grey
    std::vector<std::uint8_t> rgb_pixels;           // width * height * 3
    std::vector<std::uint16_t> grey_pixels;         // width * height
    std::vector<std::pair<std::string, std::string>> text;
};
bool encode_png_rows(const png_rows& picture, std::vector<std::uint8_t>* png, std::string* error);

// The colour picture: the map with square pixels (rows repeated or
// thinned to the columns' scale, at most 2000 pixels a side), viridis from
// far (dark) to near (yellow), missing cells grey, and below it the colour
// bar with its Z range, a scale bar in mm and the grid's size.
png_rows scan_picture(const vorex_scan::height_map& map);

}  // namespace vorexctl

#endif
