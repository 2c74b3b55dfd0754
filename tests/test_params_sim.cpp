// The parameter operations against the realistic simulated sensor: group
// writes seen through block reads, flush across a restart, reboot.

#include <filesystem>
#include <fstream>
#include <iterator>

#include "params_test_support.h"

namespace vorex_test {
namespace {

class group_sim_test : public sim_test, public ::testing::WithParamInterface<group_case> {};

TEST_P(group_sim_test, written_group_comes_back_in_the_block_and_the_group) {
    const group_case& g = GetParam();
    vorex_user_params_t start;
    ASSERT_TRUE(session->read_params(&start));
    EXPECT_EQ(block_of(start), block_of(sim->device(0).parameters()));

    bytes record = inverted(block_of(start), g.offset, g.size);
    ASSERT_TRUE(g.write(*session, record.data()));
    vorex_user_params_t after;
    ASSERT_TRUE(session->read_params(&after));
    EXPECT_EQ(block_of(after), with_slice(block_of(start), g.offset, record));

    bytes back(static_cast<std::size_t>(g.size), 0);
    ASSERT_TRUE(g.read(*session, back.data()));
    EXPECT_EQ(back, record);
}

INSTANTIATE_TEST_SUITE_P(all, group_sim_test, ::testing::ValuesIn(all_groups), group_name);

// A fresh directory for the sensor's persisted parameters, removed with
// everything in it afterwards.
struct state_directory {
    std::string path;
    state_directory() : path(make_temp_directory("vorex-params-")) {}
    ~state_directory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    vorex_sim::device_config config() const {
        vorex_sim::device_config c;
        c.state_dir = path;
        return c;
    }
};

// The state directory is a base listed first, so it exists before the
// simulated sensor and outlives it.
class persisted_sim_test : protected state_directory, public sim_test {
protected:
    persisted_sim_test() : sim_test(config()) {}

    // A new simulated sensor with the same configuration, on the same port,
    // so the session goes on talking to it unchanged.
    void restart() {
        const vorex_sim::device_config c = sim->device(0).config();
        sim.reset();
        sim = std::make_unique<vorex_sim::sensor_sim>(std::vector<vorex_sim::device_config>{c});
    }

    bytes stored_file() const {
        std::ifstream in(path + "/sensor-" + std::to_string(sim->device(0).config().serial) + ".params",
                         std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Writes the sensor's block back inverted and flushes it; returns what
    // the sensor should now hold and have stored.
    bytes write_and_flush_inverted_block() {
        vorex_user_params_t block;
        EXPECT_TRUE(session->read_params(&block));
        const bytes flushed = inverted(block_of(block), 0, static_cast<int>(block_size));
        set_block(block, flushed);
        EXPECT_TRUE(session->write_params(&block));
        EXPECT_TRUE(session->flush_params());
        return flushed;
    }
};

TEST_F(persisted_sim_test, flushed_block_survives_a_restart_and_unflushed_changes_do_not) {
    ASSERT_FALSE(path.empty());
    const bytes flushed = write_and_flush_inverted_block();
    EXPECT_EQ(stored_file(), flushed);

    vorex_sensor_params_t later;
    std::memset(&later, 0x42, sizeof later);
    ASSERT_TRUE(session->write_sensor_params(&later));

    restart();
    vorex_user_params_t back;
    ASSERT_TRUE(session->read_params(&back));
    EXPECT_EQ(block_of(back), flushed);
}

TEST_F(persisted_sim_test, reboot_brings_back_the_flushed_block) {
    ASSERT_FALSE(path.empty());
    const bytes flushed = write_and_flush_inverted_block();

    vorex_inputs_params_t unflushed;
    std::memset(&unflushed, 0x24, sizeof unflushed);
    ASSERT_TRUE(session->write_inputs_params(&unflushed));
    vorex_user_params_t changed;
    ASSERT_TRUE(session->read_params(&changed));
    EXPECT_EQ(block_of(changed), with_slice(flushed, 718, bytes(345, 0x24)));

    const std::uint16_t c0 = vorex_session_access::counter(*session);
    ASSERT_TRUE(session->reboot());
    EXPECT_EQ(vorex_session_access::counter(*session), static_cast<std::uint16_t>(c0 + 1));
    vorex_user_params_t back;
    ASSERT_TRUE(session->read_params(&back));
    EXPECT_EQ(block_of(back), flushed);
}

}  // namespace
}  // namespace vorex_test
