# The libraries of the Linux build, from Debian's -dev packages through
# pkg-config, as the iap_dep_* targets the floors link (the Windows build
# defines the same targets in cmake/win_third_party.cmake).
find_package(PkgConfig REQUIRED)

# iap_pkg(PREFIX MODULE DEBIAN_PACKAGE): PkgConfig::PREFIX from MODULE, or a
# configure error that names the Debian package to install.
macro(iap_pkg prefix module package)
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
  if(NOT ${prefix}_FOUND)
    message(FATAL_ERROR "${module} not found by pkg-config: install Debian's "
      "${package} (scripts/install-deps.sh installs every dependency)")
  endif()
  message(STATUS "${module} ${${prefix}_VERSION}")
endmacro()

iap_pkg(SPDLOG spdlog libspdlog-dev)
iap_pkg(HIDAPI hidapi-hidraw libhidapi-dev)
iap_pkg(LIBUSB libusb-1.0 libusb-1.0-0-dev)
iap_pkg(STB stb libstb-dev)
iap_pkg(MOSQUITTO libmosquitto libmosquitto-dev)
iap_pkg(JSON nlohmann_json nlohmann-json3-dev)
iap_pkg(CLI11 CLI11 libcli11-dev)
iap_pkg(SODIUM libsodium libsodium-dev)
iap_pkg(SQLITE sqlite3 libsqlite3-dev)
iap_pkg(PQ libpq libpq-dev)

add_library(iap_dep_spdlog INTERFACE)
target_link_libraries(iap_dep_spdlog INTERFACE PkgConfig::SPDLOG)
add_library(iap_dep_hidapi INTERFACE)
target_link_libraries(iap_dep_hidapi INTERFACE PkgConfig::HIDAPI)
add_library(iap_dep_libusb INTERFACE)
target_link_libraries(iap_dep_libusb INTERFACE PkgConfig::LIBUSB)
# Only the header: stb_image's implementation is built in src/package.
add_library(iap_dep_stb INTERFACE)
target_include_directories(iap_dep_stb SYSTEM INTERFACE ${STB_INCLUDE_DIRS})

# The fleet's and the tools' libraries. libmosquitto is Debian's, with TLS
# (OpenSSL); nlohmann-json and CLI11 are header-only.
add_library(iap_dep_mosquitto INTERFACE)
target_link_libraries(iap_dep_mosquitto INTERFACE PkgConfig::MOSQUITTO)
add_library(iap_dep_json INTERFACE)
target_link_libraries(iap_dep_json INTERFACE PkgConfig::JSON)
add_library(iap_dep_cli11 INTERFACE)
target_link_libraries(iap_dep_cli11 INTERFACE PkgConfig::CLI11)
add_library(iap_dep_sodium INTERFACE)
target_link_libraries(iap_dep_sodium INTERFACE PkgConfig::SODIUM)
add_library(iap_dep_sqlite INTERFACE)
target_link_libraries(iap_dep_sqlite INTERFACE PkgConfig::SQLITE)
# PostgreSQL's client library: Linux only (the Windows build has no libpq,
# so Windows programs store in SQLite).
add_library(iap_dep_pq INTERFACE)
target_link_libraries(iap_dep_pq INTERFACE PkgConfig::PQ)

if(IAP_GUI)
  iap_pkg(GLFW glfw3 libglfw3-dev)
  iap_pkg(EPOXY epoxy libepoxy-dev)
  iap_pkg(IMGUI imgui libimgui-dev)
  iap_pkg(FONTCONFIG fontconfig libfontconfig-dev)

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
