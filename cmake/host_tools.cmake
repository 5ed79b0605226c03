# Programs of the Windows build that run on the build machine: the generator
# usb-iap-pack (appends the demo's package at build time; the GUI tests make
# their tools with it), usb-iap-icon (draws the icon the resources hold) and
# the umockdev harness's driver (the device tests run the .exe in its testbed)
# and usb-iap-fleet (collects and queries what the .exe ships in those tests).
# They are the same sources built natively, in BUILD_DIR/host, with the
# Linux dependencies (scripts/install-deps.sh) and without the window.
#
#   IAP_HOST_PACK, IAP_HOST_ICON, IAP_HOST_UMOCK_DRIVER, IAP_HOST_FLEET   their paths;
#   target iap_host_tools builds them
#
# IAP_HOST_TOOLS_FROM=DIR takes them from a native build of the same tree
# instead (scripts/test.sh gives its Linux test build, which has just built
# them), rather than building them a second time.
set(IAP_HOST_TOOLS_FROM "" CACHE PATH "a native build folder of this tree whose host programs the Windows build uses")
if(IAP_HOST_TOOLS_FROM)
  set(IAP_HOST_PACK ${IAP_HOST_TOOLS_FROM}/tools/usb-iap-pack)
  set(IAP_HOST_ICON ${IAP_HOST_TOOLS_FROM}/tools/usb-iap-icon)
  set(IAP_HOST_UMOCK_DRIVER ${IAP_HOST_TOOLS_FROM}/tests/umockdev/umockdev_e2e_driver)
  set(IAP_HOST_FLEET ${IAP_HOST_TOOLS_FROM}/tools/fleet/usb-iap-fleet)
  foreach(program ${IAP_HOST_PACK} ${IAP_HOST_ICON} ${IAP_HOST_UMOCK_DRIVER} ${IAP_HOST_FLEET})
    if(NOT EXISTS ${program})
      message(FATAL_ERROR "IAP_HOST_TOOLS_FROM: ${program} is not built")
    endif()
  endforeach()
  add_custom_target(iap_host_tools)
  return()
endif()
include(ExternalProject)
set(_host ${CMAKE_BINARY_DIR}/host)
set(IAP_HOST_PACK ${_host}/tools/usb-iap-pack)
set(IAP_HOST_ICON ${_host}/tools/usb-iap-icon)
set(IAP_HOST_UMOCK_DRIVER ${_host}/umockdev_e2e_driver)
set(IAP_HOST_FLEET ${_host}/tools/fleet/usb-iap-fleet)
find_program(IAP_HOST_CXX NAMES g++ c++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(IAP_HOST_CC NAMES gcc cc REQUIRED NO_CMAKE_FIND_ROOT_PATH)
ExternalProject_Add(iap_host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${_host}
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DIAP_GUI=OFF -DIAP_TESTS=OFF -DIAP_UMOCK_HARNESS=ON
             -DCMAKE_C_COMPILER=${IAP_HOST_CC} -DCMAKE_CXX_COMPILER=${IAP_HOST_CXX}
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${_host} --target usb-iap-pack usb-iap-icon umockdev_e2e_driver usb-iap-fleet
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${IAP_HOST_PACK} ${IAP_HOST_ICON} ${IAP_HOST_UMOCK_DRIVER} ${IAP_HOST_FLEET}
  USES_TERMINAL_BUILD ON)
