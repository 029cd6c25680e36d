# kestrix_library(NAME [SOURCES...] [USES libs...] [SYSTEM libs...])
# One folder of the program as a static library that links only the
# libraries it USES (ours, below it) and the SYSTEM libraries it needs.
#
# Static libraries alone would not hold the layering: the program links
# everything, so a call from a folder into one above it would link all the
# same. Beside each library the build therefore links NAME_layering, a stub
# program made of every object of the library and nothing of ours but what
# it USES: a call into a higher folder leaves a symbol undefined there, and
# the build stops.
function(kestrix_library name)
  cmake_parse_arguments(KL "" "" "SOURCES;USES;SYSTEM" ${ARGN})
  add_library(${name} STATIC ${KL_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${KESTRIX_WARNINGS})
  target_link_libraries(${name} PUBLIC ${KL_USES} ${KL_SYSTEM})
  # The contract's generated declarations, for every folder that includes them.
  add_dependencies(${name} kestrix_contract)

  add_executable(${name}_layering ${KESTRIX_LAYERING_STUB} $<TARGET_OBJECTS:${name}>)
  target_link_libraries(${name}_layering PRIVATE ${KL_USES} ${KL_SYSTEM})
  set_target_properties(${name}_layering PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                        ${CMAKE_BINARY_DIR}/layering)
endfunction()

set(KESTRIX_LAYERING_STUB ${CMAKE_CURRENT_LIST_DIR}/LayeringStub.cpp)
