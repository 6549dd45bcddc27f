# SPDX-License-Identifier: MIT
# mb_add_module(name DIR dir LIBS ... TEST_LIBS ... EXCLUDE ...)
#
# One folder, one library. Sources follow a naming rule instead of a list:
#   name_test.cpp          unit tests, built into <name>_tests
#   name_posix_test.cpp    unit tests of POSIX only behaviour (name_win_test.cpp: Windows)
#   name_win.cpp           Windows only
#   name_posix.cpp         POSIX only
#   anything else .cpp     the library
# EXCLUDE names sources (file names in the folder) that another library of the
# same folder builds and this one links instead: host/'s core, which the C
# library takes without the rest.
function(mb_add_module name)
  cmake_parse_arguments(M "" "" "LIBS;TEST_LIBS;EXCLUDE" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(f ${M_EXCLUDE})
    list(REMOVE_ITEM all ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
  set(lib_sources "")
  set(test_sources "")
  foreach(f ${all})
    get_filename_component(base ${f} NAME_WE)
    if(base MATCHES "_posix_test$")
      if(NOT WIN32)
        list(APPEND test_sources ${f})
      endif()
    elseif(base MATCHES "_win_test$")
      if(WIN32)
        list(APPEND test_sources ${f})
      endif()
    elseif(base MATCHES "_test$")
      list(APPEND test_sources ${f})
    elseif(base MATCHES "_win$")
      if(WIN32)
        list(APPEND lib_sources ${f})
      endif()
    elseif(base MATCHES "_posix$")
      if(NOT WIN32)
        list(APPEND lib_sources ${f})
      endif()
    else()
      list(APPEND lib_sources ${f})
    endif()
  endforeach()
  if(lib_sources)
    add_library(${name} STATIC ${lib_sources})
    target_link_libraries(${name} PUBLIC ${M_LIBS})
  else()
    # Headers only on this platform (the POSIX sources are left out on Windows).
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${M_LIBS})
  endif()
  if(test_sources)
    mb_add_test(${name}_tests SOURCES ${test_sources} LIBS ${name} ${M_TEST_LIBS})
  endif()
endfunction()
