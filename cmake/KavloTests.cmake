# Registers a GoogleTest binary with CTest.
#
#   kavlo_discover_tests(<target> [SHARDS n] [TEST_PREFIX p] [TEST_FILTER f]
#                        [DISCOVERY_TIMEOUT s] [PROPERTIES <name> <value>...])
#
# By default every test becomes a CTest test of its own (gtest_discover_tests),
# which is what one wants while working: `ctest -R Name` runs just it. Each
# one is a process, though, and a sanitized binary linking Qt takes about half
# a second to start, longer than most tests take to run. With
# KAVLO_CTEST_SHARDS on (CI), a binary is instead registered as SHARDS CTest
# tests (default 2), each running its share of the tests in one process
# through GoogleTest's own sharding; a shard's time-out is four times the
# per-test one.
option(KAVLO_CTEST_SHARDS "Register each test binary as a few shards instead of one CTest test per test" OFF)

function(kavlo_discover_tests target)
  cmake_parse_arguments(ARG "" "SHARDS;TEST_PREFIX;TEST_FILTER;DISCOVERY_TIMEOUT" "PROPERTIES" ${ARGN})
  if(NOT KAVLO_CTEST_SHARDS)
    set(forward)
    foreach(key TEST_PREFIX TEST_FILTER DISCOVERY_TIMEOUT)
      if(DEFINED ARG_${key})
        list(APPEND forward ${key} ${ARG_${key}})
      endif()
    endforeach()
    if(ARG_PROPERTIES)
      list(APPEND forward PROPERTIES ${ARG_PROPERTIES})
    endif()
    gtest_discover_tests(${target} ${forward})
    return()
  endif()

  if(NOT ARG_SHARDS)
    set(ARG_SHARDS 2)
  endif()
  # PROPERTIES come as name/value pairs, but an ENVIRONMENT value is itself a
  # list, so its entries run up to the next property name.
  set(environment)
  set(timeout 60)
  set(key)
  foreach(item IN LISTS ARG_PROPERTIES)
    if(item MATCHES "^(ENVIRONMENT|TIMEOUT)$")
      set(key ${item})
    elseif(key STREQUAL "ENVIRONMENT")
      list(APPEND environment "${item}")
    elseif(key STREQUAL "TIMEOUT")
      set(timeout ${item})
    else()
      message(FATAL_ERROR "kavlo_discover_tests: unsupported property ${item}")
    endif()
  endforeach()
  math(EXPR timeout "${timeout} * 4")
  set(filter)
  if(ARG_TEST_FILTER)
    set(filter "--gtest_filter=${ARG_TEST_FILTER}")
  endif()
  math(EXPR last "${ARG_SHARDS} - 1")
  foreach(shard RANGE ${last})
    set(name "${ARG_TEST_PREFIX}${target}/${shard}")
    add_test(NAME ${name} COMMAND ${target} ${filter})
    set(shard_environment ${environment} GTEST_TOTAL_SHARDS=${ARG_SHARDS} GTEST_SHARD_INDEX=${shard})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${shard_environment}" TIMEOUT ${timeout})
  endforeach()
endfunction()
