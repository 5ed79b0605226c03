# The fleet's reader of the upgrade record's CSV (seeds: record lines, quoted
# line breaks, a torn tail, bad quoting).
iap_add_fuzzer(fuzz_record_csv 30 ${CMAKE_CURRENT_LIST_DIR}/record_csv_fuzzer.cpp)
target_link_libraries(fuzz_record_csv PRIVATE iap_fleet)
