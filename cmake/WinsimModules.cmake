# Programs and libraries of the simulated machine.
#
#   winsim_program(NAME w9xpurge SOURCES ... [RC file.rc])          -> build/bin/w9xpurge.exe
#   winsim_library(NAME K4471PNP SOURCES ... DEF file.def [RC file.rc]) -> build/bin/K4471PNP.dll
#
# A program's entry is WinMain (the start-up comes from winsim_crt); a library's is DllMain.
# RC files are compiled by the machine's resource compiler into the module's resource section;
# DEF files give the module's export table (names and ordinals).

set(WINSIM_MODULE_IMAGE_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/../platform/internal)
set(WINSIM_PUBLIC_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/../platform/include)
set(WINSIM_LIBRARY_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/winsim_library.map)

function(winsim_resources target rc)
  if(NOT rc)
    return()
  endif()
  get_filename_component(rc_abs ${rc} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_rc.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND winrc --cpp ${CMAKE_C_COMPILER} -I ${WINSIM_PUBLIC_INCLUDE} ${rc_abs} ${out} --depfile ${out}.d
    DEPENDS winrc ${rc_abs}
    DEPFILE ${out}.d
    COMMENT "Compiling resources ${rc}")
  target_sources(${target} PRIVATE ${out})
endfunction()

function(winsim_exports target def)
  get_filename_component(def_abs ${def} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_exports.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND winrc --def ${def_abs} ${out}
    DEPENDS winrc ${def_abs}
    COMMENT "Building the export table of ${target}")
  # The table's layout is the loader's, declared once in the layer's internal headers.
  set_source_files_properties(${out} PROPERTIES INCLUDE_DIRECTORIES ${WINSIM_MODULE_IMAGE_INCLUDE})
  target_sources(${target} PRIVATE ${out})
endfunction()

function(winsim_program)
  cmake_parse_arguments(P "" "NAME;RC" "SOURCES;LIBS" ${ARGN})
  add_executable(${P_NAME} ${P_SOURCES})
  # Nothing of a program is shown to the host's loader: a library it loads keeps its own functions.
  set_target_properties(${P_NAME} PROPERTIES SUFFIX ".exe")
  target_link_libraries(${P_NAME} PRIVATE winsim_crt winsim ${P_LIBS})
  winsim_resources(${P_NAME} "${P_RC}")
endfunction()

function(winsim_library)
  cmake_parse_arguments(L "" "NAME;RC;DEF" "SOURCES;LIBS" ${ARGN})
  add_library(${L_NAME} SHARED ${L_SOURCES})
  set_target_properties(${L_NAME} PROPERTIES PREFIX "" SUFFIX ".dll" LINK_DEPENDS ${WINSIM_LIBRARY_EXPORTS})
  target_link_options(${L_NAME} PRIVATE "LINKER:--version-script=${WINSIM_LIBRARY_EXPORTS}")
  target_link_libraries(${L_NAME} PRIVATE winsim_runtime ${L_LIBS})
  winsim_resources(${L_NAME} "${L_RC}")
  winsim_exports(${L_NAME} "${L_DEF}")
endfunction()
