// Files the tools create, and text from elsewhere made safe to print.
#ifndef VOREXCTL_FILES_H
#define VOREXCTL_FILES_H

#include <cstdio>
#include <string>

namespace vorexctl {

enum class file_access { shared, owner_only };

// Creates or truncates `path` for writing and opens it as a stream. Never
// follows a symbolic link at the last component (a link planted where a
// root-run tool writes would redirect the write); owner_only also gives an
// existing file mode 0600. Null with errno set on failure.
std::FILE* create_file(const std::string& path, file_access access = file_access::shared);

// "cannot write PATH: reason", the reason for a symbolic link included.
std::string create_error(const std::string& path);

// `text` with every control character (C0, DEL, C1) and every byte that is
// not part of valid UTF-8 written as \xNN, and backslash as \\, so that
// names and rules from other programs cannot drive the terminal.
std::string printable(const std::string& text);

}  // namespace vorexctl

#endif
