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

# The include root of the src/ folder this CMakeLists.txt describes: a folder in the build tree holding only
# that folder (as a link), so that "platform/Crypto.h" resolves for exactly the targets that link qb_platform.
function(qb_include_root out)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  string(MAKE_C_IDENTIFIER ${folder} id)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${id})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# qb_library(NAME SOURCES ... DEPS ... PRIVATE_DEPS ...): a static library whose headers are included as
# "<folder>/Header.h". It exposes only its own folder: a dependent sees the headers of exactly the libraries
# it links, plus those of DEPS (the libraries this one's own headers include); PRIVATE_DEPS stay its own.
function(qb_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  qb_include_root(root)
  if(NOT ARG_SOURCES)
    # A folder whose code has not landed yet still gives the layer its target.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_PRIVATE_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  qb_warnings(${name})
  set_property(GLOBAL APPEND PROPERTY QB_LIBRARIES ${name})
endfunction()

# Qt targets: no implicit ASCII casts, no keywords (signals/slots), every connect names a context.
function(qb_qt_defaults target)
  target_compile_definitions(${target} PUBLIC QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT)
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()
