# The package format alone, parse only, with the Authenticode lookup (seeds:
# a small sound package, broken ones, a code-signed PE around a package).
iap_add_fuzzer(fuzz_package_format 60 ${CMAKE_CURRENT_LIST_DIR}/package_format_fuzzer.cpp)
# The package parser with every image decoded (seeds: a small sound package and broken ones).
iap_add_fuzzer(fuzz_package_parser 60 ${CMAKE_CURRENT_LIST_DIR}/package_parser_fuzzer.cpp)
# The firmware image header read from any bytes, and built images read back.
iap_add_fuzzer(fuzz_firmware_image 30 ${CMAKE_CURRENT_LIST_DIR}/firmware_image_fuzzer.cpp)
# The firmware file readers of `build --payload`, one target each (seeds: small
# files made by srec_cat and ld, and a few broken ones).
foreach(reader hex:readIntelHex srec:readSRecord elf:readElfSegments)
  string(REPLACE ":" ";" reader ${reader})
  list(GET reader 0 format)
  list(GET reader 1 function)
  iap_add_fuzzer(fuzz_payload_${format} 20 ${CMAKE_CURRENT_LIST_DIR}/payload_file_fuzzer.cpp)
  target_compile_definitions(fuzz_payload_${format} PRIVATE IAP_PAYLOAD_READER=${function})
endforeach()
