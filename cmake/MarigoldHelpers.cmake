# Shared build rules: warnings and sanitizers attached per target through interface targets, one
# library per src/ folder with its tests beside it (shared where the hosts and the plug-in module
# use the same copy, static otherwise; src/config is an interface library of constants).

add_library(marigold_warnings INTERFACE)
target_compile_options(marigold_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(MARIGOLD_WERROR)
  target_compile_options(marigold_warnings INTERFACE -Werror)
endif()
if(MARIGOLD_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC's analysis of values used before they are set misfires on instrumented code (inside
  # libstdc++'s <regex>, which cpp-httplib includes); the plain build keeps the warning.
  target_compile_options(marigold_warnings INTERFACE -Wno-maybe-uninitialized)
endif()

add_library(marigold_sanitize INTERFACE)
if(MARIGOLD_SANITIZE)
  target_compile_options(marigold_sanitize INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(marigold_sanitize INTERFACE -fsanitize=address,undefined)
endif()
if(MARIGOLD_FUZZ)
  # Coverage instrumentation for libFuzzer in every library the fuzzers link.
  target_compile_options(marigold_sanitize INTERFACE -fsanitize=fuzzer-no-link)
endif()

# marigold_library(NAME <target> [SHARED] SOURCES <file.cc>... [TESTS <file_test.cc>...]
#                  [DEPS <libs>...] [TEST_DEPS <libs>...])
# Builds SOURCES into a library and, with MARIGOLD_BUILD_TESTS, TESTS into one GoogleTest
# executable <target>_test registered with ctest. A SHARED library is one the hosts and the plug-in
# module both use: it exists once in a process, so its types, its run loops and its log are the
# same on both sides of the plug-in boundary. It installs in the private folder beside the module.
# Without SHARED the library is static (the plug-in's own code, the hosts' own code).
function(marigold_library)
  cmake_parse_arguments(ARG "SHARED" "NAME" "SOURCES;TESTS;DEPS;TEST_DEPS" ${ARGN})
  if(ARG_SHARED)
    add_library(${ARG_NAME} SHARED ${ARG_SOURCES})
    set_target_properties(${ARG_NAME} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${ARG_NAME} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR_MARIGOLD_SHARED}
            NAMELINK_SKIP)
  else()
    add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
  endif()
  target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_DEPS} marigold_sanitize PRIVATE marigold_warnings)
  if(ARG_TESTS AND MARIGOLD_BUILD_TESTS)
    add_executable(${ARG_NAME}_test ${ARG_TESTS})
    target_link_libraries(${ARG_NAME}_test PRIVATE ${ARG_NAME} ${ARG_TEST_DEPS} marigold_testing GTest::gtest
                          GTest::gtest_main GTest::gmock marigold_warnings)
    gtest_discover_tests(${ARG_NAME}_test DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "MARIGOLD_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()

# marigold_manual_page(<program> <target>)
# Makes the manual page <program>(1) from the scdoc text share/<program>.1.scd of the calling folder,
# as the target <target> (built by default), and installs it.
function(marigold_manual_page program target)
  find_program(SCDOC scdoc REQUIRED)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.gz)
  set(text ${CMAKE_CURRENT_SOURCE_DIR}/share/${program}.1.scd)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${SCDOC} < ${text} | gzip -9n > ${page}
    DEPENDS ${text}
    COMMENT "Making the manual page ${program}(1)")
  add_custom_target(${target} ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The libraries of src/ that exist so far, for tools that link everything (fuzzers, benchmarks,
# the command-line host).
function(marigold_existing_libraries out)
  set(result)
  foreach(lib marigold_plugin marigold_imaging marigold_settings marigold_oauth marigold_json
              marigold_crypto marigold_encoding marigold_platform marigold_base marigold_config)
    if(TARGET ${lib})
      list(APPEND result ${lib})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()
