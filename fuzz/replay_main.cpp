// Runs fuzz inputs through a target without libFuzzer, so the checked-in
// corpus is exercised by every ordinary build. Arguments are files or
// directories (every regular file in them, in name order).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& p) {
    std::vector<std::filesystem::path> out;
    if (std::filesystem::is_directory(p)) {
        for (const auto& entry : std::filesystem::directory_iterator(p))
            if (entry.is_regular_file()) out.push_back(entry.path());
        std::sort(out.begin(), out.end());
    } else {
        out.push_back(p);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& path : inputs_of(argv[i])) {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
                return 1;
            }
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // An empty corpus would make this a check that cannot fail.
    return replayed > 0 ? 0 : 1;
}
