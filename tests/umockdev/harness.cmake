# The umockdev harness (the testbed, its fake hidraw nodes, the simulated
# bootloader behind them) and umockdev_e2e_driver; for the Linux tests and the
# Windows build's host tools (cmake/host_tools.cmake).
pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)

add_library(iap_umock STATIC
  ${CMAKE_CURRENT_LIST_DIR}/testbed.cpp ${CMAKE_CURRENT_LIST_DIR}/fake_hidraw.cpp
  ${CMAKE_CURRENT_LIST_DIR}/emulated_device.cpp)
target_include_directories(iap_umock PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(iap_umock PUBLIC PkgConfig::UMOCKDEV iap_sim ${CMAKE_DL_LIBS})
iap_target_warnings(iap_umock)

add_executable(umockdev_e2e_driver ${CMAKE_CURRENT_LIST_DIR}/e2e_driver.cpp)
target_link_libraries(umockdev_e2e_driver PRIVATE iap_umock)
iap_target_warnings(umockdev_e2e_driver)
