# Every target gets the full warning set. They become errors only where QB_WARNINGS_AS_ERRORS is on (the dev,
# asan and tsan presets): GCC 12 reports false positives at -O2 and above (-Wrestrict, -Warray-bounds in
# std::string code), so an optimised build with another configuration must never fail on one.
function(qb_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast)
  if(QB_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# qb_library(NAME SOURCES ... DEPS ...): a static library rooted at src/, so
# headers are included as "platform/Crypto.h", "transfer/Wire.h" and so on.
function(qb_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    # A folder whose code has not landed yet still gives the layer its target.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  qb_warnings(${name})
endfunction()

# Qt targets: no implicit ASCII casts, no keywords (signals/slots), every connect names a context.
function(qb_qt_defaults target)
  target_compile_definitions(${target} PUBLIC QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT)
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()
