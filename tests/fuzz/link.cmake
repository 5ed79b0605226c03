# Device link parsers: received reports and responses, report descriptors,
# and the simulated bootloader's handling of arbitrary output reports.
iap_add_fuzzer(fuzz_link_response 30 ${CMAKE_CURRENT_LIST_DIR}/link_response_fuzzer.cpp)
iap_add_fuzzer(fuzz_link_descriptor 30 ${CMAKE_CURRENT_LIST_DIR}/link_descriptor_fuzzer.cpp)
iap_add_fuzzer(fuzz_sim_bootloader 20 ${CMAKE_CURRENT_LIST_DIR}/sim_bootloader_fuzzer.cpp)
