# Delay-import libraries. A program linked with one does not load the DLL at its start: MinGW-w64's
# __delayLoadHelper2 loads it by name on the first call of one of its functions. The programs limit
# where DLLs come from before that (src/core/dll_search.h), so the DLL comes from System32, never from
# the program's own folder.
#
# orv_delay_import(<target> <def file>) makes <target>, a library to link with in place of the DLL's
# import library, from a .def file that names the DLL (LIBRARY) and lists the functions the programs use
# with their 32-bit stdcall decorations (name@bytes); 64-bit builds drop the decorations.
function(orv_delay_import target def)
  get_filename_component(name ${def} NAME_WE)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  set(build_def ${dir}/${name}.def)
  # The symbols that the library brings in are named after its file name: "lib<name>_delay.a".
  set(library_name lib${name}_delay.a)
  set(library ${dir}/${library_name})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(READ ${def} text)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The symbols keep their decoration; the names the DLL is asked for lose it.
    set(kill_at --kill-at)
  else()
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
  endif()
  # Written only when it changes, so that the programs are not linked again on every configure.
  file(CONFIGURE OUTPUT ${build_def} CONTENT "${text}" @ONLY)
  add_custom_command(OUTPUT ${library}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${build_def} --output-delaylib ${library_name} ${kill_at}
    DEPENDS ${build_def}
    WORKING_DIRECTORY ${dir}
    COMMENT "Making the delay-import library of ${name}.dll"
    VERBATIM)
  # The first call of a function goes through its stub in the library, which the function's slot points
  # to until then. GNU ld (i386) leaves out the stub of a function that the code calls through its __imp_
  # pointer (a dllimport declaration, as in commctrl.h and uxtheme.h), and the slot would stay 0: every
  # program that links the library asks for every stub.
  file(STRINGS ${def} exports REGEX "^[A-Za-z0-9_]+@[0-9]+$")
  set(stubs "")
  foreach(export ${exports})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      list(APPEND stubs "-Wl,--undefined=_${export}")
    else()
      string(REGEX REPLACE "@[0-9]+$" "" export ${export})
      list(APPEND stubs "-Wl,--undefined=${export}")
    endif()
  endforeach()
  add_custom_target(${target}_library DEPENDS ${library})
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${library} INTERFACE_LINK_OPTIONS "${stubs}")
  add_dependencies(${target} ${target}_library)
endfunction()
