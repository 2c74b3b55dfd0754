#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorexctl {

std::FILE* create_file(const std::string& path, file_access access) {
    const mode_t mode = access == file_access::owner_only ? 0600 : 0666;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    if (access == file_access::owner_only && ::fchmod(fd, 0600) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return f;
}

std::string create_error(const std::string& path) {
    const std::string reason = errno == ELOOP ? "it is a symbolic link; name the file itself" : std::strerror(errno);
    return "cannot write " + path + ": " + reason;
}

namespace {

// The length of the valid UTF-8 sequence at `s` (up to `end`), 0 if none.
std::size_t utf8_length(const unsigned char* s, const unsigned char* end, std::uint32_t* code) {
    const unsigned char c = s[0];
    std::size_t n;
    std::uint32_t least;
    if (c < 0x80) n = 1, *code = c, least = 0;
    else if ((c & 0xE0) == 0xC0) n = 2, *code = c & 0x1F, least = 0x80;
    else if ((c & 0xF0) == 0xE0) n = 3, *code = c & 0x0F, least = 0x800;
    else if ((c & 0xF8) == 0xF0) n = 4, *code = c & 0x07, least = 0x10000;
    else return 0;
    if (static_cast<std::size_t>(end - s) < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        *code = *code << 6 | (s[i] & 0x3F);
    }
    if (*code < least || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string printable(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        std::uint32_t code = 0;
        const std::size_t n = utf8_length(p, end, &code);
        const bool control = n == 0 || code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F);
        if (!control) {
            if (code == '\\') out += '\\';
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
            continue;
        }
        // A sequence that is a control character is escaped byte by byte.
        for (const auto* q = p, *stop = p + (n ? n : 1); q < stop; ++q) {
            out += "\\x";
            out += hex[*q >> 4];
            out += hex[*q & 0xF];
        }
        p += n ? n : 1;
    }
    return out;
}

}  // namespace vorexctl
