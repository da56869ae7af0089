# Configures a release tree with its tests, as a user or CI builds it, and fails when any compile line there
# turns warnings into errors: GCC 12's optimiser reports false positives that must never break that build.
#   cmake -DSOURCE=<source> -DBINARY=<folder> -P ReleaseCheck.cmake
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=ON
  RESULT_VARIABLE configured OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "release configuration failed:\n${errors}")
endif()
file(STRINGS ${BINARY}/build.ninja werror_lines REGEX "-Werror")
if(werror_lines)
  list(GET werror_lines 0 first)
  message(FATAL_ERROR "the release build turns warnings into errors:\n${first}")
endif()
message(STATUS "release configuration: configured, no warnings as errors")
