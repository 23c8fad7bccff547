# libFuzzer targets of the library, built with clang into a build of their
# own (tools/fuzz, tools/test.d/30-fuzz):
#   CC=clang CXX=clang++ cmake -B build-fuzz -DWEBADMIN_FUZZ=ON -DWEBADMIN_SANITIZE=ON -DWEBADMIN_TESTS=OFF
# Each folder tests/fuzz/NAME is one target: fuzz_NAME.cpp, NAME.dict, a
# seed corpus in seeds/ and the inputs of fixed findings in regressions/.
option(WEBADMIN_FUZZ "Build the libFuzzer targets of tests/fuzz (clang only)" OFF)

if(WEBADMIN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "WEBADMIN_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # Coverage feedback from the library itself, not only from the targets.
  # (clang also reports helpers that only some processors' sizes use.)
  target_compile_options(webadmin_objects PRIVATE -fsanitize=fuzzer-no-link -Wno-unneeded-internal-declaration)
  # The CGI's pages do without exceptions; here qError unwinds through them.
  target_compile_options(upgrade_pages PRIVATE -fsanitize=fuzzer-no-link -fexceptions)

  # qError unwinds to the target instead of ending the process, and the
  # request body is read from the input (tests/fuzz/fuzz_support.h).
  add_library(fuzz_support STATIC ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_support.cpp)
  target_include_directories(fuzz_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/fuzz)
  target_link_libraries(fuzz_support PUBLIC webadmin_static)
  target_link_options(fuzz_support INTERFACE -fsanitize=fuzzer LINKER:--wrap=qError LINKER:--wrap=read)

  add_custom_target(fuzzers)
  file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*/fuzz_*.cpp)
  foreach(src ${FUZZ_SOURCES})
    get_filename_component(target ${src} NAME_WE)
    add_executable(${target} ${src})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${target} PRIVATE fuzz_support upgrade_pages)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_dependencies(fuzzers ${target})
  endforeach()
endif()
