cmake_minimum_required(VERSION 3.25)
# Fails when the tool's .exe (before any package) is 5 MB or more: as built
# in a Release build (linked without symbols), and stripped in any build
# type; prints both sizes.
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
if(RELEASE AND unstripped GREATER_EQUAL 5000000)
  message(FATAL_ERROR "${name} of a Release build is ${unstripped} bytes: 5 MB or more")
endif()
if(stripped GREATER_EQUAL 5000000)
  message(FATAL_ERROR "${name} is ${stripped} bytes stripped: 5 MB or more")
endif()
