#include "picture.h"

#include <png.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "files.h"

namespace vorexctl {

namespace {

// libpng's simplified interface owns no memory past png_image_free, which
// this guard calls on every path.
struct png_image_guard {
    png_image image{};
    png_image_guard() { image.version = PNG_IMAGE_VERSION; }
    ~png_image_guard() { png_image_free(&image); }
};

bool write_bytes(const std::string& path, const void* data, std::size_t size, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(create_file(path), &std::fclose);
    if (!file) {
        *error = create_error(path);
        return false;
    }
    if (size > 0 && std::fwrite(data, 1, size, file.get()) != size) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

void grey_image::set(int x, int y, std::uint8_t value) {
    if (x >= 0 && y >= 0 && x < width && y < height) pixels[static_cast<std::size_t>(y) * width + x] = value;
}

bool encode_png(const grey_image& picture, std::vector<std::uint8_t>* png, std::string* error) {
    png_image_guard g;
    g.image.width = static_cast<png_uint_32>(picture.width);
    g.image.height = static_cast<png_uint_32>(picture.height);
    g.image.format = PNG_FORMAT_GRAY;
    png_alloc_size_t size = 0;
    // The first call only measures.
    if (!png_image_write_to_memory(&g.image, nullptr, &size, 0, picture.pixels.data(), 0, nullptr)) {
        *error = std::string("PNG encoding failed: ") + g.image.message;
        return false;
    }
    png->resize(size);
    if (!png_image_write_to_memory(&g.image, png->data(), &size, 0, picture.pixels.data(), 0, nullptr)) {
        *error = std::string("PNG encoding failed: ") + g.image.message;
        return false;
    }
    png->resize(size);
    return true;
}

std::vector<std::uint8_t> encode_pgm(const grey_image& picture) {
    const std::string head =
        "P5\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
    std::vector<std::uint8_t> out(head.begin(), head.end());
    out.insert(out.end(), picture.pixels.begin(), picture.pixels.end());
    return out;
}

file_kind kind_of(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return file_kind::other;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "png") return file_kind::png;
    if (ext == "pgm") return file_kind::pgm;
    if (ext == "svg") return file_kind::svg;
    return file_kind::other;
}

bool write_file(const std::string& path, const std::string& contents, std::string* error) {
    return write_bytes(path, contents.data(), contents.size(), error);
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& contents, std::string* error) {
    return write_bytes(path, contents.data(), contents.size(), error);
}

}  // namespace vorexctl
