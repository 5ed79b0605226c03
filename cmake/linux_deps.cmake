# The libraries of the Linux build, from Debian's -dev packages through
# pkg-config, as the iap_dep_* targets the floors link (the Windows build
# defines the same targets in cmake/win_third_party.cmake).
find_package(PkgConfig REQUIRED)
pkg_check_modules(SPDLOG REQUIRED IMPORTED_TARGET spdlog)
pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)

add_library(iap_dep_spdlog INTERFACE)
target_link_libraries(iap_dep_spdlog INTERFACE PkgConfig::SPDLOG)
add_library(iap_dep_hidapi INTERFACE)
target_link_libraries(iap_dep_hidapi INTERFACE PkgConfig::HIDAPI)
add_library(iap_dep_libusb INTERFACE)
target_link_libraries(iap_dep_libusb INTERFACE PkgConfig::LIBUSB)
# Only the header: stb_image's implementation is built in src/package.
add_library(iap_dep_stb INTERFACE)
target_include_directories(iap_dep_stb SYSTEM INTERFACE ${STB_INCLUDE_DIRS})

if(IAP_GUI)
  pkg_check_modules(GLFW REQUIRED IMPORTED_TARGET glfw3)
  pkg_check_modules(EPOXY REQUIRED IMPORTED_TARGET epoxy)
  pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
  pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)

  add_library(iap_dep_imgui INTERFACE)
  target_link_libraries(iap_dep_imgui INTERFACE PkgConfig::IMGUI)
  add_library(iap_dep_gl INTERFACE)
  target_link_libraries(iap_dep_gl INTERFACE PkgConfig::EPOXY)

  # Dear ImGui's GLFW, OpenGL3 and OpenGL2 (OpenGL 1.1 calls, for older
  # contexts) back-ends from Debian's back-end sources, with the GL entry
  # points through libepoxy. Not our code: no -Werror.
  set(_backends /usr/share/doc/libimgui-dev/examples/backends)
  add_library(iap_imgui_backends STATIC
    ${_backends}/imgui_impl_glfw.cpp
    ${_backends}/imgui_impl_opengl3.cpp
    ${_backends}/imgui_impl_opengl2.cpp)
  target_compile_definitions(iap_imgui_backends PRIVATE IMGUI_IMPL_OPENGL_LOADER_CUSTOM)
  target_compile_options(iap_imgui_backends PRIVATE -include epoxy/gl.h -w)
  target_include_directories(iap_imgui_backends PUBLIC /usr/include/imgui/backends)
  target_link_libraries(iap_imgui_backends PUBLIC PkgConfig::IMGUI PkgConfig::GLFW PkgConfig::EPOXY)

  add_library(iap_dep_window INTERFACE)
  target_link_libraries(iap_dep_window INTERFACE iap_imgui_backends PkgConfig::GLFW PkgConfig::FONTCONFIG)
endif()
