# The tool package parser (seeds: a small sound package and broken ones).
iap_add_fuzzer(fuzz_package_parser 60 ${CMAKE_CURRENT_LIST_DIR}/package_parser_fuzzer.cpp)
# The firmware image header read from any bytes, and built images read back.
iap_add_fuzzer(fuzz_firmware_image 30 ${CMAKE_CURRENT_LIST_DIR}/firmware_image_fuzzer.cpp)
# The signature section before the trailer (seeds: a sound section, a
# damaged one, an unknown scheme).
iap_add_fuzzer(fuzz_signature_section 30 ${CMAKE_CURRENT_LIST_DIR}/signature_section_fuzzer.cpp)
