# Warning flags for the project's own sources; generated sources (moc, rcc) are exempt.
function(bv_warnings target)
  set(flags -Wall -Wextra)
  if(BENCHVIEW_WERROR)
    list(APPEND flags -Werror)
  endif()
  target_compile_options(${target} PRIVATE ${flags})
  get_target_property(_automoc ${target} AUTOMOC)
  get_target_property(_autorcc ${target} AUTORCC)
  if(_automoc OR _autorcc)
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
      PROPERTIES COMPILE_OPTIONS "-w" SKIP_AUTOGEN ON)
  endif()
endfunction()

# One static library per subsystem folder: every .cpp of the folder except the program mains.
function(bv_subsystem_library name)
  cmake_parse_arguments(ARG "QT" "" "EXCLUDE;LIBS;QRC" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(_ex ${ARG_EXCLUDE})
    list(REMOVE_ITEM _sources ${CMAKE_CURRENT_SOURCE_DIR}/${_ex})
  endforeach()
  set(_cpp ${_sources})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(NOT _cpp)
    return()  # a folder gets its library with its first code
  endif()
  add_library(${name} STATIC ${_sources} ${ARG_QRC})
  if(ARG_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} Threads::Threads)
  if(BENCHVIEW_BOARD)
    target_compile_definitions(${name} PUBLIC BENCHVIEW_BOARD_BUILD=1)
  else()
    target_compile_definitions(${name} PUBLIC BENCHVIEW_BOARD_BUILD=0)
  endif()
  bv_warnings(${name})
endfunction()

# A GoogleTest binary of a tests/ folder; each test case runs as its own process. TIMEOUT sets
# the CTest time-out of each of its tests (for the few that must wait on real timers); SERIAL
# runs them one at a time (tests whose simulated hardware runs in real time).
function(bv_test_binary name)
  cmake_parse_arguments(ARG "SERIAL" "TIMEOUT" "LIBS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  foreach(_lib ${ARG_LIBS})
    if(NOT TARGET ${_lib})
      return()
    endif()
  endforeach()
  add_executable(${name} ${_sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gtest)
  bv_warnings(${name})
  set(_timeout)
  if(ARG_TIMEOUT)
    set(_timeout TIMEOUT ${ARG_TIMEOUT})
  endif()
  if(ARG_SERIAL)
    # One at a time, with two processors kept free for its threads, and first in the queue: the
    # chain of these tests is the longest, the rest fill the other processors meanwhile.
    list(APPEND _timeout RESOURCE_LOCK realtime_board PROCESSORS 2 COST 10000)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=halt_on_error=1"
               ${_timeout})
endfunction()
