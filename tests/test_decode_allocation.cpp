// A decode whose allocation fails leaves the caller's record as it was:
// this program's operator new fails on request.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "data/profile_decode.h"
#include "data_support.h"

namespace {
std::atomic<bool> refuse_allocations{false};
}  // namespace

void* operator new(std::size_t size) {
    if (refuse_allocations.load()) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The pair above and below is malloc and free, which GCC cannot see through.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace vorex_test {
namespace {

using vorex_data::decode_path;

TEST(decode_allocation, a_failed_allocation_leaves_the_record_untouched) {
    for (decode_path path : {decode_path::generic, decode_path::avx2, decode_path::avx512}) {
        if (!vorex_data::decode_path_supported(path)) continue;
        for (int type = 16; type <= 19; ++type) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " path " << static_cast<int>(path));
            bytes d = profile_datagram(type, 3, 5, 7);
            for (std::size_t i = 64; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i);
            vorex_profile record;  // empty: the decode has to allocate
            std::memset(&record.header, 0x5A, sizeof record.header);
            const vorex_profile before = record;

            refuse_allocations = true;
            EXPECT_THROW(vorex_data::decode_profile(d.data(), d.size(), record, path), std::bad_alloc);
            refuse_allocations = false;

            EXPECT_EQ(std::memcmp(&record.header, &before.header, sizeof before.header), 0);
            EXPECT_TRUE(record.points.empty());
            EXPECT_TRUE(record.raw_values.empty());
            // And with memory to spare the same record decodes.
            EXPECT_EQ(vorex_data::decode_profile(d.data(), d.size(), record, path),
                      vorex_data::decode_outcome::accepted);
            EXPECT_EQ(record.header.data_type, type);
        }
    }
}

}  // namespace
}  // namespace vorex_test
