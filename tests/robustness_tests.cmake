# Bad input, floods, faults and load.
vorex_test(test_floods LABELS exchange SOURCES test_floods.cpp)
vorex_test(test_soak LABELS soak SOURCES test_soak.cpp)
