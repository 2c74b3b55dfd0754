#ifndef VOREX_CORE_CONNECTION_H
#define VOREX_CORE_CONNECTION_H

#include <cstdint>

namespace vorex_core {

// The first host address in the peer's subnet, or 0.0.0.0 (the wildcard)
// when the peer is 0 or no host address matches. Both arguments and the
// result are in network byte order; the test is bytewise.
std::uint32_t select_local_address(std::uint32_t peer, std::uint32_t mask);

}  // namespace vorex_core

#endif
