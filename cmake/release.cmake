# The version and install layout that every program and package shares. The
# version is project(VERSION) in the top CMakeLists.txt; nothing else holds it:
#   - src/package/project_version.h.in -> the marker the programs carry
#     (package/tool_version.h) and print with --version;
#   - win/version.rc.in -> the VERSIONINFO resource of each Windows .exe;
#   - cmake/packaging.cmake -> the Debian package and its man pages.

# Where the bare tool is installed, relative to the prefix: beside nothing
# on the PATH on Linux (a product tool is made from it, not run), beside
# usb-iap-pack.exe on Windows. usb-iap-pack finds it from its own folder.
if(IAP_WIN32)
  set(IAP_TOOL_INSTALL_DIR bin)
else()
  set(IAP_TOOL_INSTALL_DIR lib/usb-iap-tools)
endif()
file(RELATIVE_PATH IAP_INSTALLED_TOOL /prefix/bin
     /prefix/${IAP_TOOL_INSTALL_DIR}/usb-iap-tool${CMAKE_EXECUTABLE_SUFFIX})

# IAP_PACKAGE_BUILD: the same commit builds to the same bytes wherever the
# tree and the build folder are: no build paths in __FILE__ or debug
# information, and on Windows no link time stamp in the PE header (mingw's ld
# writes one unless told not to). On Linux the programs are hardened as
# Debian's own packages (dpkg-buildflags): checked string and memory
# functions, and GOT and PLT read-only from the start.
if(IAP_PACKAGE_BUILD)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
  if(IAP_WIN32)
    add_compile_options(-ffile-prefix-map=${IAP_WIN_SRC_DIR}/=third_party/)
    add_link_options(-Wl,--no-insert-timestamp)
  else()
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
  endif()
endif()

# iap_windows_version_info(TARGET DESCRIPTION): the VERSIONINFO resource that
# Explorer shows under Properties > Details (file and product version,
# product name, description, original file name).
function(iap_windows_version_info target description)
  if(NOT IAP_WIN32)
    return()
  endif()
  set(IAP_RC_DESCRIPTION "${description}")
  set(IAP_RC_FILE_NAME "${target}${CMAKE_EXECUTABLE_SUFFIX}")
  set(rc ${CMAKE_BINARY_DIR}/version-info/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/win/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
