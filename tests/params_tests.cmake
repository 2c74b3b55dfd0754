vorex_test(test_params LABELS params SOURCES test_params_groups.cpp test_params_block.cpp test_params_sim.cpp)
