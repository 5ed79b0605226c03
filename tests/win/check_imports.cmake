cmake_minimum_required(VERSION 3.25)
# Fails when a Windows executable imports a DLL that Windows does not ship
# (e.g. the mingw runtime: libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll), i.e. when the static runtime linking is lost.
#   cmake -DOBJDUMP=... -DEXES="a.exe;b.exe" -P check_imports.cmake
# What the programs import today; a new system DLL is added here on purpose.
set(system_dlls kernel32.dll user32.dll gdi32.dll opengl32.dll msvcrt.dll dwmapi.dll hid.dll setupapi.dll cfgmgr32.dll shell32.dll ole32.dll
  advapi32.dll ws2_32.dll)
foreach(exe IN LISTS EXES)
  execute_process(COMMAND ${OBJDUMP} -p ${exe} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${exe} failed")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  set(names "")
  foreach(l IN LISTS lines)
    string(REPLACE "DLL Name: " "" name "${l}")
    string(TOLOWER "${name}" name)
    list(APPEND names ${name})
    if(NOT name IN_LIST system_dlls)
      message(SEND_ERROR "${exe} imports ${name}, which is not a system DLL")
    endif()
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "no imports found in ${exe}")
  endif()
  get_filename_component(short ${exe} NAME)
  list(JOIN names " " names)
  message(STATUS "${short} imports: ${names}")
endforeach()
