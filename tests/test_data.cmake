# Test data made at build time by a Python script (tests/*/make_*.py), for the Windows suite
# (tests/CMakeLists.txt) and the native one (tests/native/CMakeLists.txt) alike.
#
# ombrix_test_data(<target> DIR <dir> OUTPUT <file>... SCRIPT <script.py> [<argument>...]
#                  [DEPENDS <file>...] [COMMENT <text>]
#                  [FOR <test>...] [DEFINITIONS <definition>...] [INCLUDE])
#
# Runs the script with python3 (after making DIR) whenever OUTPUT is missing or older than the
# script or DEPENDS, as <target>. Each test program named in FOR is built after <target>, with
# the compile DEFINITIONS and, with INCLUDE, DIR on its include path (for generated .inc files).
find_program(PYTHON3 python3 REQUIRED)

function(ombrix_test_data target)
  cmake_parse_arguments(D "INCLUDE" "DIR;COMMENT" "OUTPUT;SCRIPT;DEPENDS;FOR;DEFINITIONS" ${ARGN})
  list(GET D_SCRIPT 0 script)
  if(NOT D_COMMENT)
    get_filename_component(D_COMMENT "${script}" NAME)
    set(D_COMMENT "Test data from ${D_COMMENT}")
  endif()
  add_custom_command(
    OUTPUT ${D_OUTPUT}
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${D_DIR}"
    COMMAND "${PYTHON3}" ${D_SCRIPT}
    DEPENDS "${script}" ${D_DEPENDS}
    COMMENT "${D_COMMENT}")
  add_custom_target(${target} DEPENDS ${D_OUTPUT})
  foreach(test IN LISTS D_FOR)
    add_dependencies(${test} ${target})
    if(D_DEFINITIONS)
      target_compile_definitions(${test} PRIVATE ${D_DEFINITIONS})
    endif()
    if(D_INCLUDE)
      target_include_directories(${test} PRIVATE "${D_DIR}")
    endif()
  endforeach()
endfunction()
