# What is installed, and the Debian package made from it with CPack
# (scripts/release.sh runs both; the Windows zip is made there from the
# Windows build's install).
#
#   Linux:   bin/usb-iap-pack, bin/usb-iap-flash, bin/usb-iap-fleet
#            lib/usb-iap-tools/usb-iap-tool    the bare tool products are made from
#            share/man/man1/usb-iap-pack.1.gz, usb-iap-flash.1.gz, usb-iap-fleet.1.gz
#            share/doc/usb-iap-tools/README.md, copyright, changelog.gz, examples/fleet.conf
#            share/usb-iap-tools/fleet/  the fleet board's page (with IAP_BOARD)
#            lib/systemd/system/usb-iap-fleet-ship.service, usb-iap-fleet-collect.service
#   Windows: bin/usb-iap-tool.exe, usb-iap-pack.exe, usb-iap-flash.exe, usb-iap-fleet.exe
if(TARGET usb-iap-tool)
  install(TARGETS usb-iap-tool DESTINATION ${IAP_TOOL_INSTALL_DIR})
endif()
install(TARGETS usb-iap-pack usb-iap-flash usb-iap-fleet)
if(IAP_WIN32 OR IAP_FUZZ)
  return()
endif()

# Man pages and the changelog, compressed as Debian wants them (gzip -9n: no
# name or time stamp in the file).
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_out ${CMAKE_BINARY_DIR}/packaging)
set(_compressed "")
foreach(page usb-iap-pack usb-iap-flash usb-iap-fleet)
  configure_file(${_pkg}/${page}.1.in ${_out}/${page}.1 @ONLY)
  list(APPEND _compressed ${page}.1)
endforeach()
configure_file(${_pkg}/changelog ${_out}/changelog COPYONLY)
list(APPEND _compressed changelog)
set(_gz "")
foreach(file IN LISTS _compressed)
  add_custom_command(OUTPUT ${_out}/${file}.gz
    COMMAND gzip -9nc ${_out}/${file} > ${_out}/${file}.gz
    DEPENDS ${_out}/${file}
    COMMENT "Compressing ${file}")
  list(APPEND _gz ${_out}/${file}.gz)
endforeach()
add_custom_target(iap_package_docs ALL DEPENDS ${_gz})
install(FILES ${_out}/usb-iap-pack.1.gz ${_out}/usb-iap-flash.1.gz ${_out}/usb-iap-fleet.1.gz
        DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${_pkg}/copyright ${_out}/changelog.gz
        DESTINATION share/doc/usb-iap-tools)
install(FILES ${_pkg}/fleet.conf DESTINATION share/doc/usb-iap-tools/examples)
# The fleet's services (fleet.conf in /etc/usb-iap-tools), run as the user the
# package's postinst makes.
install(FILES ${_pkg}/usb-iap-fleet-ship.service ${_pkg}/usb-iap-fleet-collect.service
        DESTINATION lib/systemd/system)
# The fleet board's page (a build with IAP_BOARD), for a broker's http_dir.
if(TARGET fleet_board)
  install(DIRECTORY ${IAP_BOARD_DIR}/ DESTINATION share/usb-iap-tools/fleet)
endif()

# The Debian package: usb-iap-tools_<version>_amd64.deb. Depends comes from
# dpkg-shlibdeps on the programs, so that installing the package brings
# every library a product tool needs. Built with SOURCE_DATE_EPOCH set, CPack
# gives every file that time and the package the same bytes each time.
set(IAP_PACKAGE_MAINTAINER "USB IAP tool maintainers <maintainers@users.noreply.c-seed-b8dcdb98.example>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME usb-iap-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${IAP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)  # postinst; added to the libraries' list
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/debian/postinst ${_pkg}/debian/postrm)
# SimHei's stand-in for the window's Chinese texts (fontconfig's match).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-wqy-microhei)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "firmware upgrades of USB HID devices through their IAP bootloader
usb-iap-pack makes one tool per product: it appends a tool package (the
firmware image, the device IDs, the skin and five timing settings) to the
bare window tool installed in /usr/lib/usb-iap-tools. Operators run the
product tool: a window whose START button upgrades the device, one after
another on a production line.
usb-iap-flash upgrades from a terminal or a script with the same product
tool file, many devices at once, with JSON output and a production-line
mode.
usb-iap-fleet gathers every station's upgrade record through an MQTT broker
into one SQLite or PostgreSQL store, each line exactly once.")
include(CPack)
