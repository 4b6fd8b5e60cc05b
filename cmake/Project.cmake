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

# A GoogleTest binary of a tests/ folder. Each test case is registered as a CTest test of its own
# (`ctest -R Suite.Case` runs one), and the whole binary once more as <name>.whole (label
# "whole"), every case in one process. CI (scripts/test.sh) runs the whole binaries, which also
# proves that no test leaves state behind for the next, and skips the per-case registrations
# (label "case"). GROUPS n splits the whole run into n processes (<name>.group<i>of<n>, GoogleTest
# shards) so that a long binary runs beside itself. TIMEOUT sets the CTest time-out of each case
# (for the few that must wait on real timers). REALTIME (tests whose simulated hardware runs in
# real time, mostly waiting on it) makes each of the binary's processes hold one of the few
# "realtime_board" slots of the resource file (bv_run_tests passes it), so that only a few such
# processes run at once, first in the queue: their chain is the longest. Cases matching the
# GoogleTest filter ALONE (<case>.alone, label "alone") check timing that a loaded machine
# upsets: they run one process each with nothing beside them.
function(bv_test_binary name)
  cmake_parse_arguments(ARG "REALTIME" "TIMEOUT;ALONE;GROUPS" "LIBS" ${ARGN})
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
  set(_environment "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0")
  # Costs order the queue: the real-time processes first (their chain through the few slots is
  # the longest), then the rest by the costs CTest measured (a fresh build gets those of an idle
  # run from bv_run_tests; CTest uses them only for tests without a COST).
  set(_cost)
  set(_board)
  if(ARG_REALTIME)
    set(_cost COST 10000)
    set(_board RESOURCE_GROUPS "realtime_board:1")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${_environment}" LABELS case ${_timeout})
  if(ARG_ALONE)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "${ARG_ALONE}"
      TEST_SUFFIX .alone PROPERTIES ENVIRONMENT "${_environment}" LABELS alone RUN_SERIAL TRUE COST 30000
      ${_timeout})
  endif()
  set(_whole_args)
  if(ARG_ALONE)
    set(_whole_args "--gtest_filter=-${ARG_ALONE}")
  endif()
  if(ARG_REALTIME)
    set(_cost COST 20000)  # the groups are the longest of the binary's processes: first
  endif()
  if(ARG_GROUPS)
    math(EXPR _last "${ARG_GROUPS} - 1")
    foreach(_i RANGE ${_last})
      add_test(NAME ${name}.group${_i}of${ARG_GROUPS} COMMAND ${name} ${_whole_args})
      set_tests_properties(${name}.group${_i}of${ARG_GROUPS} PROPERTIES LABELS whole TIMEOUT 1200 ${_cost}
        ${_board} ENVIRONMENT "${_environment};GTEST_TOTAL_SHARDS=${ARG_GROUPS};GTEST_SHARD_INDEX=${_i}")
    endforeach()
  else()
    add_test(NAME ${name}.whole COMMAND ${name} ${_whole_args})
    set_tests_properties(${name}.whole PROPERTIES LABELS whole TIMEOUT 1200 ${_cost} ${_board}
      ENVIRONMENT "${_environment}")
  endif()
endfunction()
