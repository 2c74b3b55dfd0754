// Grey pictures and the files they are written to: PNG (through libpng),
// binary PGM, and the choice of format by file name.
#ifndef VOREXCTL_PICTURE_H
#define VOREXCTL_PICTURE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vorexctl {

// The sensor's image is 648 x 488 pixels of 8 bits, row by row from the top.
constexpr int image_width = 648;
constexpr int image_height = 488;
constexpr std::size_t image_bytes = 316224;
static_assert(static_cast<std::size_t>(image_width) * image_height == image_bytes, "image shape");

// 8-bit grey pixels, row by row from the top; 0 is black.
struct grey_image {
    grey_image(int w, int h, std::uint8_t fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    int width;
    int height;
    std::vector<std::uint8_t> pixels;

    // Writes are clipped to the picture.
    void set(int x, int y, std::uint8_t value);
};

// The PNG file of `picture` (8-bit greyscale). False with libpng's reason.
bool encode_png(const grey_image& picture, std::vector<std::uint8_t>* png, std::string* error);
// The binary PGM ("P5") file of `picture`.
std::vector<std::uint8_t> encode_pgm(const grey_image& picture);

enum class file_kind { png, pgm, svg, other };
// By the file name's extension, in any letter case.
file_kind kind_of(const std::string& path);

// Replaces the file's contents; false with a one-line reason.
bool write_file(const std::string& path, const std::string& contents, std::string* error);
bool write_file(const std::string& path, const std::vector<std::uint8_t>& contents, std::string* error);

}  // namespace vorexctl

#endif
