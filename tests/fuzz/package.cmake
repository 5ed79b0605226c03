# The tool package parser, seeded with a small sound package.
iap_add_fuzzer(fuzz_package_parser 60 ${CMAKE_CURRENT_LIST_DIR}/package_parser_fuzzer.cpp)
file(COPY ${CMAKE_CURRENT_LIST_DIR}/package-seed.bin
     DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/fuzz_package_parser-corpus)
