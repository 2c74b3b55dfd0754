// The eleven parameter groups of the user parameter block, in block order.
// Group k is read with command code 2k + 1 and written with 2k + 2.
#ifndef VOREX_PARAMS_GROUPS_H
#define VOREX_PARAMS_GROUPS_H

#include <cstddef>

#include "vorex.h"

namespace vorex_params {

struct group {
    const char* name;
    int offset;
    int size;
    int index;
    constexpr int read_code() const { return 2 * index + 1; }
    constexpr int write_code() const { return 2 * index + 2; }
};

constexpr group groups[] = {
    {"general", offsetof(vorex_user_params_t, general), sizeof(vorex_general_params_t), 0},
    {"sysmon", offsetof(vorex_user_params_t, sysmon), sizeof(vorex_sysmon_params_t), 1},
    {"tavikcompat", offsetof(vorex_user_params_t, tavikcompat), sizeof(vorex_tavikcompat_params_t), 2},
    {"sensor", offsetof(vorex_user_params_t, sensor), sizeof(vorex_sensor_params_t), 3},
    {"roi", offsetof(vorex_user_params_t, roi), sizeof(vorex_roi_params_t), 4},
    {"network", offsetof(vorex_user_params_t, network), sizeof(vorex_network_params_t), 5},
    {"stream", offsetof(vorex_user_params_t, stream), sizeof(vorex_stream_params_t), 6},
    {"image_processing", offsetof(vorex_user_params_t, image_processing), sizeof(vorex_image_processing_params_t), 7},
    {"laser", offsetof(vorex_user_params_t, laser), sizeof(vorex_laser_params_t), 8},
    {"inputs", offsetof(vorex_user_params_t, inputs), sizeof(vorex_inputs_params_t), 9},
    {"outputs", offsetof(vorex_user_params_t, outputs), sizeof(vorex_outputs_params_t), 10},
};
constexpr int group_count = static_cast<int>(sizeof groups / sizeof groups[0]);
static_assert(group_count == 11, "eleven groups");

// The groups tile the block from 0 up to reserved_tail without gaps.
constexpr bool groups_tile_block() {
    int next = 0;
    for (const group& g : groups) {
        if (g.offset != next) return false;
        next += g.size;
    }
    return next == static_cast<int>(offsetof(vorex_user_params_t, reserved_tail));
}
static_assert(groups_tile_block(), "groups are contiguous");

}  // namespace vorex_params

#endif
