# Third-party libraries of the Windows build, compiled from Debian's source
# packages with our own CMake (their autotools are not used). The sources are
# fetched by scripts/fetch-win-sources.sh (called by scripts/install-deps.sh).
#
# Targets for the project's Windows targets to link:
#   iap_win_headers  spdlog + fmt header-only, stb_image's header (its
#                    implementation is src/package/stb_image_build.cpp),
#                    nlohmann-json and CLI11 (header-only)
#   iap_win_hidapi   hidapi, Windows back-end (windows/hid.c)
#   iap_win_libusb   libusb-1.0, WinUSB and UsbDk back-ends
#   iap_win_imgui    Dear ImGui core + Win32, OpenGL3 and OpenGL2 back-ends
#   iap_win_gl       our GL loader (win/gl_loader.h) and GL declarations
#                    (win/win_gl.h) for the back-end and the tool
#   iap_win_mosquitto libmosquitto, static, plain TCP (no TLS: Debian has
#                    no OpenSSL for mingw), threads through winpthreads
#   iap_win_sodium   libsodium, static, portable C (no SIMD, no assembly)
#   iap_win_sqlite   SQLite's amalgamation, static, thread-safe
#   iap_win_platform compile definitions for our own Windows code
# libpq has no Windows build here: Windows programs store in SQLite.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  message(FATAL_ERROR "win_third_party.cmake is for the Windows cross build")
endif()

set(IAP_WIN_SRC_DIR "${CMAKE_SOURCE_DIR}/build/third_party" CACHE PATH
    "Debian source packages unpacked by scripts/fetch-win-sources.sh")
set(IAP_WIN_DIR "${CMAKE_SOURCE_DIR}/win")
set(_imgui  "${IAP_WIN_SRC_DIR}/imgui")
set(_hidapi "${IAP_WIN_SRC_DIR}/hidapi")
set(_libusb "${IAP_WIN_SRC_DIR}/libusb")
set(_mosquitto "${IAP_WIN_SRC_DIR}/mosquitto")
set(_sodium "${IAP_WIN_SRC_DIR}/libsodium")
set(_sqlite "${IAP_WIN_SRC_DIR}/sqlite3")
foreach(_dir IN ITEMS ${_imgui} ${_hidapi} ${_libusb} ${_mosquitto} ${_sodium} ${_sqlite}/amalgamation)
  if(NOT EXISTS "${_dir}/")
    message(FATAL_ERROR "${_dir} is missing: run scripts/fetch-win-sources.sh")
  endif()
endforeach()

# The versions the build is written for: another one is an error to look at,
# not something to build silently.
file(STRINGS "${_imgui}/imgui.h" _v REGEX "^#define IMGUI_VERSION_NUM ")
string(REGEX MATCH "[0-9]+" _v "${_v}")
if(NOT _v STREQUAL "18600")
  message(FATAL_ERROR "Dear ImGui ${_v} found, 18600 (1.86) expected")
endif()
file(STRINGS "${_imgui}/imgui.h" _dock REGEX "^#define IMGUI_HAS_DOCK")
if(_dock)
  message(FATAL_ERROR "Dear ImGui's docking branch found, master expected")
endif()
file(READ "${_hidapi}/VERSION" _hidapi_version)
string(STRIP "${_hidapi_version}" _hidapi_version)
if(NOT _hidapi_version MATCHES "^0\\.13\\.")
  message(FATAL_ERROR "hidapi ${_hidapi_version} found, 0.13.x expected")
endif()
file(STRINGS "${_libusb}/libusb/version.h" _v REGEX "^#define LIBUSB_(MAJOR|MINOR|MICRO) ")
string(REGEX REPLACE "[^0-9;]" "" _v "${_v}")
string(REPLACE ";" "." _v "${_v}")
if(NOT _v STREQUAL "1.0.26")
  message(FATAL_ERROR "libusb ${_v} found, 1.0.26 expected")
endif()
file(STRINGS "${_mosquitto}/include/mosquitto.h" _v REGEX "^#define LIBMOSQUITTO_(MAJOR|MINOR|REVISION) ")
string(REGEX REPLACE "[^0-9;]" "" _v "${_v}")
string(REPLACE ";" "." _v "${_v}")
if(NOT _v STREQUAL "2.0.11")
  message(FATAL_ERROR "libmosquitto ${_v} found, 2.0.11 expected")
endif()
file(STRINGS "${_sodium}/configure.ac" _v REGEX "^AC_INIT")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" _v "${_v}")
if(NOT _v STREQUAL "1.0.18")
  message(FATAL_ERROR "libsodium ${_v} found, 1.0.18 expected")
endif()
file(STRINGS "${_sqlite}/amalgamation/sqlite3.h" _v REGEX "^#define SQLITE_VERSION ")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" _v "${_v}")
if(NOT _v STREQUAL "3.40.1")
  message(FATAL_ERROR "SQLite ${_v} found, 3.40.1 expected")
endif()
message(STATUS "Windows third-party sources: ${IAP_WIN_SRC_DIR} (imgui 1.86, hidapi ${_hidapi_version}, libusb 1.0.26, libmosquitto 2.0.11, libsodium 1.0.18, SQLite 3.40.1)")

# A Release build is what ships: its programs are linked without symbols
# (5.6 MB with them, 3.3 MB without; the other build types keep them).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE "${CMAKE_EXE_LINKER_FLAGS_RELEASE} -s")

# Windows 7 is the oldest the tool is built for (hidapi and libusb need Vista).
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)

# Their code, their warnings: none of ours, and theirs not shown. Ours get
# the same warnings as the Linux build.
set(_quiet -w)
set(IAP_WIN_WARNINGS -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(IAP_WERROR)
  list(APPEND IAP_WIN_WARNINGS -Werror)
endif()

# Our own Windows code: the wide (W) Win32 API throughout, as Dear ImGui's
# Win32 back-end takes WM_CHAR as UTF-16; no min/max macros.
add_library(iap_win_platform INTERFACE)
target_compile_definitions(iap_win_platform INTERFACE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)

# --- headers: spdlog + fmt header-only, stb_image, nlohmann-json, CLI11 -----
# A build-local include folder holding only these from /usr/include (Debian's
# -dev packages of the Linux build): /usr/include itself must never reach the
# mingw compiler (glibc headers).
set(_inc "${CMAKE_BINARY_DIR}/win-include")
file(MAKE_DIRECTORY "${_inc}")
set(_header_packages spdlog=libspdlog-dev fmt=libfmt-dev stb=libstb-dev
  nlohmann=nlohmann-json3-dev CLI=libcli11-dev)
foreach(_hp IN LISTS _header_packages)
  string(REPLACE "=" ";" _hp "${_hp}")
  list(GET _hp 0 _h)
  list(GET _hp 1 _pkg)
  if(NOT EXISTS "/usr/include/${_h}/")
    message(FATAL_ERROR "/usr/include/${_h} is missing: install Debian's ${_pkg} (scripts/install-deps.sh)")
  endif()
  file(CREATE_LINK "/usr/include/${_h}" "${_inc}/${_h}" SYMBOLIC)
endforeach()
add_library(iap_win_headers INTERFACE)
# Debian's spdlog is built against an external fmt (its tweakme.h sets
# SPDLOG_FMT_EXTERNAL); without SPDLOG_COMPILED_LIB it is header-only.
target_compile_definitions(iap_win_headers INTERFACE SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY)
target_include_directories(iap_win_headers SYSTEM INTERFACE "${_inc}" "${_inc}/stb")

# --- hidapi -------------------------------------------------------------------
# hid.dll and cfgmgr32.dll are loaded at run time by hid_init(), so nothing
# is linked for them.
add_library(iap_win_hidapi STATIC ${_hidapi}/windows/hid.c)
target_include_directories(iap_win_hidapi SYSTEM PUBLIC ${_hidapi}/hidapi ${_hidapi}/windows)
target_compile_options(iap_win_hidapi PRIVATE ${_quiet})

# --- libusb-1.0 ---------------------------------------------------------------
# Its Windows back-ends load cfgmgr32, setupapi, advapi32, winusb, hid and
# (if installed) UsbDkHelper at run time too.
set(_lu ${_libusb}/libusb)
add_library(iap_win_libusb STATIC
  ${_lu}/core.c ${_lu}/descriptor.c ${_lu}/hotplug.c ${_lu}/io.c
  ${_lu}/strerror.c ${_lu}/sync.c
  ${_lu}/os/events_windows.c ${_lu}/os/threads_windows.c
  ${_lu}/os/windows_common.c ${_lu}/os/windows_usbdk.c ${_lu}/os/windows_winusb.c)
target_include_directories(iap_win_libusb PRIVATE ${IAP_WIN_DIR}/libusb ${_lu}/os)
target_include_directories(iap_win_libusb SYSTEM PUBLIC ${_lu})
target_compile_options(iap_win_libusb PRIVATE ${_quiet})

# --- libmosquitto ---------------------------------------------------------------
# The client library's sources (lib/), as its own CMake lists them, built
# static: the shared library's CMake links an MSVC pthreads path. Plain TCP
# (no WITH_TLS), SOCKS5 as Debian builds it, threading (mosquitto_loop_start)
# through mingw's winpthreads, which -static links into the .exe.
set(_ml ${_mosquitto}/lib)
add_library(iap_win_mosquitto STATIC
  ${_ml}/actions.c ${_ml}/callbacks.c ${_ml}/connect.c ${_ml}/handle_auth.c
  ${_ml}/handle_connack.c ${_ml}/handle_disconnect.c ${_ml}/handle_ping.c
  ${_ml}/handle_pubackcomp.c ${_ml}/handle_publish.c ${_ml}/handle_pubrec.c
  ${_ml}/handle_pubrel.c ${_ml}/handle_suback.c ${_ml}/handle_unsuback.c
  ${_ml}/helpers.c ${_ml}/logging_mosq.c ${_ml}/loop.c ${_ml}/memory_mosq.c
  ${_ml}/messages_mosq.c ${_ml}/misc_mosq.c ${_ml}/mosquitto.c
  ${_ml}/net_mosq_ocsp.c ${_ml}/net_mosq.c ${_ml}/options.c
  ${_ml}/packet_datatypes.c ${_ml}/packet_mosq.c ${_ml}/property_mosq.c
  ${_ml}/read_handle.c ${_ml}/send_connect.c ${_ml}/send_disconnect.c
  ${_ml}/send_mosq.c ${_ml}/send_publish.c ${_ml}/send_subscribe.c
  ${_ml}/send_unsubscribe.c ${_ml}/socks_mosq.c ${_ml}/srv_mosq.c
  ${_ml}/strings_mosq.c ${_ml}/thread_mosq.c ${_ml}/time_mosq.c
  ${_ml}/tls_mosq.c ${_ml}/utf8_mosq.c ${_ml}/util_mosq.c ${_ml}/util_topic.c
  ${_ml}/will_mosq.c)
target_include_directories(iap_win_mosquitto PRIVATE ${_mosquitto} ${_ml} ${_mosquitto}/deps)
target_include_directories(iap_win_mosquitto SYSTEM PUBLIC ${_mosquitto}/include)
target_compile_definitions(iap_win_mosquitto PRIVATE WIN32 CMAKE VERSION="2.0.11"
  WITH_THREADING WITH_SOCKS _CRT_SECURE_NO_WARNINGS _CRT_NONSTDC_NO_DEPRECATE)
# Without it mosquitto.h declares every function __declspec(dllimport).
target_compile_definitions(iap_win_mosquitto PUBLIC LIBMOSQUITTO_STATIC)
target_compile_options(iap_win_mosquitto PRIVATE ${_quiet} -pthread)
target_link_libraries(iap_win_mosquitto PUBLIC Threads::Threads ws2_32)

# --- libsodium -------------------------------------------------------------------
# Every C file of the library with the settings its configure would find for
# x86_64 mingw, less the optional SIMD and assembly implementations: the
# portable ones are chosen at run time instead (no per-file -mavx2 flags, and
# no AVX code meeting gcc's unaligned 32-byte stack spills on Win64).
# Random bytes come from RtlGenRandom (advapi32).
file(GLOB_RECURSE _sodium_c CONFIGURE_DEPENDS ${_sodium}/src/libsodium/*.c)
# The public headers copied whole into the build, with the version.h that
# configure would make beside them: the headers include each other by their
# own folder ("export.h" from sodium/version.h), so the generated one must sit
# in the same folder as the rest.
set(_sodium_inc "${CMAKE_BINARY_DIR}/win-sodium")
file(COPY ${_sodium}/src/libsodium/include/ DESTINATION ${_sodium_inc}
  PATTERN "*.in" EXCLUDE PATTERN "Makefile*" EXCLUDE)
set(VERSION 1.0.18)
set(SODIUM_LIBRARY_VERSION_MAJOR 10)
set(SODIUM_LIBRARY_VERSION_MINOR 3)
set(SODIUM_LIBRARY_MINIMAL_DEF "")
configure_file(${_sodium}/src/libsodium/include/sodium/version.h.in ${_sodium_inc}/sodium/version.h @ONLY)
unset(VERSION)
add_library(iap_win_sodium STATIC ${_sodium_c})
target_include_directories(iap_win_sodium PRIVATE ${_sodium_inc}/sodium)
target_include_directories(iap_win_sodium SYSTEM PUBLIC ${_sodium_inc})
target_compile_definitions(iap_win_sodium PRIVATE CONFIGURED=1 NATIVE_LITTLE_ENDIAN=1
  HAVE_TI_MODE=1)
target_compile_definitions(iap_win_sodium PUBLIC SODIUM_STATIC)
target_compile_options(iap_win_sodium PRIVATE ${_quiet})
target_link_libraries(iap_win_sodium PUBLIC advapi32)

# --- SQLite ------------------------------------------------------------------------
# The amalgamation that scripts/fetch-win-sources.sh makes from the source
# package; serialized threading mode (SQLITE_THREADSAFE=1, the default).
add_library(iap_win_sqlite STATIC ${_sqlite}/amalgamation/sqlite3.c)
target_include_directories(iap_win_sqlite SYSTEM PUBLIC ${_sqlite}/amalgamation)
target_compile_definitions(iap_win_sqlite PRIVATE SQLITE_THREADSAFE=1)
target_compile_options(iap_win_sqlite PRIVATE ${_quiet})
target_link_libraries(iap_win_sqlite PUBLIC Threads::Threads)

# --- Dear ImGui -----------------------------------------------------------------
# Our GL loader (win/gl_loader.cpp) defines the entry-point table the OpenGL3
# back-end calls through; the back-end takes its GL declarations from
# win/win_gl.h and never compiles its own loader (imgl3wInit). The OpenGL2
# back-end calls opengl32.dll's own OpenGL 1.1 exports.
add_library(iap_win_gl STATIC ${IAP_WIN_DIR}/gl_loader.cpp)
target_include_directories(iap_win_gl SYSTEM PUBLIC ${_imgui} ${_imgui}/backends)
target_include_directories(iap_win_gl PUBLIC ${IAP_WIN_DIR})
target_compile_options(iap_win_gl PRIVATE ${IAP_WIN_WARNINGS})
target_link_libraries(iap_win_gl PUBLIC opengl32 PRIVATE iap_win_platform)

add_library(iap_win_imgui STATIC
  ${_imgui}/imgui.cpp ${_imgui}/imgui_draw.cpp ${_imgui}/imgui_tables.cpp
  ${_imgui}/imgui_widgets.cpp
  ${_imgui}/backends/imgui_impl_win32.cpp ${_imgui}/backends/imgui_impl_opengl3.cpp
  ${_imgui}/backends/imgui_impl_opengl2.cpp)
target_compile_options(iap_win_imgui PRIVATE ${_quiet})
target_compile_definitions(iap_win_imgui PUBLIC IMGUI_IMPL_OPENGL_LOADER_CUSTOM)
set_source_files_properties(${_imgui}/backends/imgui_impl_opengl3.cpp PROPERTIES
  COMPILE_OPTIONS "-include;${IAP_WIN_DIR}/win_gl.h")
# dwmapi: ImGui_ImplWin32_EnableAlphaCompositing; gdi32, opengl32: WGL.
target_link_libraries(iap_win_imgui PUBLIC iap_win_gl gdi32 dwmapi)

# --- the iap_dep_* targets the floors link (cmake/linux_deps.cmake on Linux) --
add_library(iap_dep_spdlog INTERFACE)
target_link_libraries(iap_dep_spdlog INTERFACE iap_win_headers)
add_library(iap_dep_stb INTERFACE)
target_link_libraries(iap_dep_stb INTERFACE iap_win_headers)
add_library(iap_dep_hidapi INTERFACE)
target_link_libraries(iap_dep_hidapi INTERFACE iap_win_hidapi)
add_library(iap_dep_libusb INTERFACE)
target_link_libraries(iap_dep_libusb INTERFACE iap_win_libusb)
add_library(iap_dep_imgui INTERFACE)
target_link_libraries(iap_dep_imgui INTERFACE iap_win_imgui)
add_library(iap_dep_gl INTERFACE)
target_link_libraries(iap_dep_gl INTERFACE iap_win_gl)
add_library(iap_dep_window INTERFACE)
target_link_libraries(iap_dep_window INTERFACE iap_win_imgui iap_win_gl)
add_library(iap_dep_mosquitto INTERFACE)
target_link_libraries(iap_dep_mosquitto INTERFACE iap_win_mosquitto)
add_library(iap_dep_json INTERFACE)
target_link_libraries(iap_dep_json INTERFACE iap_win_headers)
add_library(iap_dep_cli11 INTERFACE)
target_link_libraries(iap_dep_cli11 INTERFACE iap_win_headers)
add_library(iap_dep_sodium INTERFACE)
target_link_libraries(iap_dep_sodium INTERFACE iap_win_sodium)
add_library(iap_dep_sqlite INTERFACE)
target_link_libraries(iap_dep_sqlite INTERFACE iap_win_sqlite)
# No iap_dep_pq: libpq is not built for Windows.
# Our own code on Windows: the wide API, no min/max macros.
foreach(_t IN ITEMS iap_dep_spdlog iap_dep_hidapi iap_dep_libusb iap_dep_window)
  target_link_libraries(${_t} INTERFACE iap_win_platform)
endforeach()
