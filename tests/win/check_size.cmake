cmake_minimum_required(VERSION 3.25)
# Fails when the tool's .exe (before any package), stripped as it ships
# (`cmake --install --strip`), is 5 MB or more; prints both sizes.
#   cmake -DSTRIP=... -DEXE=usb-iap-tool.exe -DOUT=dir -P check_size.cmake
file(SIZE ${EXE} unstripped)
get_filename_component(name ${EXE} NAME)
set(stripped_exe ${OUT}/${name}.stripped)
execute_process(COMMAND ${STRIP} -o ${stripped_exe} ${EXE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${STRIP} ${EXE} failed")
endif()
file(SIZE ${stripped_exe} stripped)
message(STATUS "${name}: ${unstripped} bytes, ${stripped} bytes stripped")
if(stripped GREATER_EQUAL 5000000)
  message(FATAL_ERROR "${name} is ${stripped} bytes stripped: 5 MB or more")
endif()
