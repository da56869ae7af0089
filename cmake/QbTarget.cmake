# Warnings are errors in every build type; each library target is one src/ folder.
function(qb_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast)
  # The clang fuzz build keeps going on a warning only clang gives; GCC's builds are the judge.
  if(QB_WERROR)
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
