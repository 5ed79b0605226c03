# Third-party libraries of the Windows build, compiled from Debian's source
# packages with our own CMake (their autotools are not used). The sources are
# fetched by scripts/fetch-win-sources.sh (called by scripts/install-deps.sh).
#
# Targets for the project's Windows targets to link:
#   iap_win_headers  spdlog + fmt header-only, stb_image's header (its
#                    implementation is src/package/stb_image_build.cpp)
#   iap_win_hidapi   hidapi, Windows back-end (windows/hid.c)
#   iap_win_libusb   libusb-1.0, WinUSB and UsbDk back-ends
#   iap_win_imgui    Dear ImGui core + Win32, OpenGL3 and OpenGL2 back-ends
#   iap_win_gl       our GL loader (win/gl_loader.h) and GL declarations
#                    (win/win_gl.h) for the back-end and the tool
#   iap_win_platform compile definitions for our own Windows code
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  message(FATAL_ERROR "win_third_party.cmake is for the Windows cross build")
endif()

set(IAP_WIN_SRC_DIR "${CMAKE_SOURCE_DIR}/build/third_party" CACHE PATH
    "Debian source packages unpacked by scripts/fetch-win-sources.sh")
set(IAP_WIN_DIR "${CMAKE_SOURCE_DIR}/win")
set(_imgui  "${IAP_WIN_SRC_DIR}/imgui")
set(_hidapi "${IAP_WIN_SRC_DIR}/hidapi")
set(_libusb "${IAP_WIN_SRC_DIR}/libusb")
foreach(_dir IN ITEMS ${_imgui} ${_hidapi} ${_libusb})
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
message(STATUS "Windows third-party sources: ${IAP_WIN_SRC_DIR} (imgui 1.86, hidapi ${_hidapi_version}, libusb 1.0.26)")

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

# --- headers: spdlog + fmt header-only, stb_image ---------------------------
# A build-local include folder holding only these three from /usr/include:
# /usr/include itself must never reach the mingw compiler (glibc headers).
set(_inc "${CMAKE_BINARY_DIR}/win-include")
file(MAKE_DIRECTORY "${_inc}")
foreach(_h IN ITEMS spdlog fmt stb)
  if(NOT EXISTS "/usr/include/${_h}/")
    message(FATAL_ERROR "/usr/include/${_h} is missing: run scripts/install-deps.sh")
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
# Our own code on Windows: the wide API, no min/max macros.
foreach(_t IN ITEMS iap_dep_spdlog iap_dep_hidapi iap_dep_libusb iap_dep_window)
  target_link_libraries(${_t} INTERFACE iap_win_platform)
endforeach()
