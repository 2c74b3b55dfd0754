# Bad input, floods, faults and load.
vorex_test(test_floods LABELS exchange SOURCES test_floods.cpp)
