# The tests of the Windows build (included by cmake/windows.cmake). `ctest` in
# the build folder runs them under Wine, in a private prefix of the build
# folder with the ANSI code page 936: the unit tests one by one, each
# VBScript of tests/wine/ and the compiled clients (early binding; out of
# process, in the system surrogate) against the registered DLL, registration
# and unregistration, and the package's install steps.

# GoogleTest from source, built with the same toolchain.
set(QUORVEL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUORVEL_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its Notification needs std::mutex, which the win32 thread model lacks.
target_compile_options(gtest PUBLIC "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/win32/gtest_notification.h")

# The platform-independent unit tests and the Windows-only ones of
# tests/win32/; a file named *_posix_test.cc needs the POSIX build.
file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/*_test.cc
  ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cc)
list(FILTER WIN_TEST_SOURCES EXCLUDE REGEX "_posix_test\\.cc$")
add_executable(quorvel_tests ${WIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/win32/test_main.cc
                             ${CMAKE_SOURCE_DIR}/tests/profile_script.cc)
set_target_properties(quorvel_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(quorvel_tests PRIVATE quorvel_core quorvel_sample_interface GTest::gtest GTest::gmock)
target_compile_options(quorvel_tests PRIVATE ${QUORVEL_WARNINGS})
target_compile_definitions(quorvel_tests PRIVATE QUORVEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_options(quorvel_tests PRIVATE -static)

# The profile script runner, over the component's functions and over the
# system's, so that the two can be compared on any script.
add_executable(profile_runner ${CMAKE_SOURCE_DIR}/tests/profile_runner.cc ${CMAKE_SOURCE_DIR}/tests/profile_script.cc)
add_executable(profile_runner_system ${CMAKE_SOURCE_DIR}/tests/win32/profile_system_runner.cc
                                     ${CMAKE_SOURCE_DIR}/tests/profile_script.cc)
foreach(runner profile_runner profile_runner_system)
  set_target_properties(${runner} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${runner} PRIVATE quorvel_core)
  target_compile_options(${runner} PRIVATE ${QUORVEL_WARNINGS})
  target_link_options(${runner} PRIVATE -static)
endforeach()

# Compiled clients: one binds early, through the vtable of _SiteManage; one
# asks for the class out of process only, hosted by the system surrogate.
foreach(client early_binding_client surrogate_client)
  add_executable(${client} ${CMAKE_SOURCE_DIR}/tests/wine/${client}.cc ${GEN_DIR}/quorvel_interface.h)
  set_target_properties(${client} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(${client} PRIVATE ${CMAKE_SOURCE_DIR} ${GEN_DIR})
  target_compile_definitions(${client} PRIVATE NOMINMAX _WIN32_WINNT=0x0601)
  target_link_libraries(${client} PRIVATE ole32 oleaut32 uuid)
  target_compile_options(${client} PRIVATE ${QUORVEL_WARNINGS}
                         "SHELL:-include ${CMAKE_SOURCE_DIR}/platform/win32/seam_names.h")
  target_link_options(${client} PRIVATE -static)
endforeach()
# The early-binding client compares the type library's helpstrings with the
# reference's summaries.
target_link_libraries(early_binding_client PRIVATE quorvel_reference)

# Put where the command interpreter finds a program, it records the
# command line it was started with.
add_executable(record_command_line ${CMAKE_SOURCE_DIR}/tests/wine/record_command_line.cc)
set_target_properties(record_command_line PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_compile_options(record_command_line PRIVATE ${QUORVEL_WARNINGS})
target_link_options(record_command_line PRIVATE -static)

# ---- Under Wine, through CTest
enable_testing()
include(GoogleTest)
# Wine as the emulator: scripts/wine-run.sh runs a program in this build's
# prefix, from a folder of its own (its error log and state are its own).
set(QUORVEL_WINE_RUN env QUORVEL_WIN_BUILD=${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
set_target_properties(quorvel_tests early_binding_client surrogate_client PROPERTIES CROSSCOMPILING_EMULATOR "${QUORVEL_WINE_RUN}")
set(QUORVEL_WINE_STEP env QUORVEL_WIN_BUILD=${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/tests/wine/wine_test.sh)

# quorvel_wine_test(NAME STEP [ARG] [SETUP fixture] [CLEANUP fixture]
#                   [REQUIRES fixtures...] [LOCK resource]): a step of wine_test.sh.
function(quorvel_wine_test name step)
  cmake_parse_arguments(PARSE_ARGV 2 T "" "SETUP;CLEANUP;LOCK" "REQUIRES")
  add_test(NAME ${name} COMMAND ${QUORVEL_WINE_STEP} ${step} ${T_UNPARSED_ARGUMENTS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(T_SETUP)
    set_tests_properties(${name} PROPERTIES FIXTURES_SETUP ${T_SETUP})
  endif()
  if(T_CLEANUP)
    set_tests_properties(${name} PROPERTIES FIXTURES_CLEANUP ${T_CLEANUP})
  endif()
  if(T_REQUIRES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_REQUIRES}")
  endif()
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${T_LOCK})
  endif()
endfunction()

# Fixtures: the prefix and its server; quorvel.dll and the stand-ins
# registered from the test folder; the local servers the scripts talk to.
quorvel_wine_test(wine:prefix prefix SETUP wine)
quorvel_wine_test(wine:end end CLEANUP wine)
foreach(dll quorvel standins)
  quorvel_wine_test(register:${dll} register ${dll} SETUP ${dll} REQUIRES wine)
  quorvel_wine_test(unregister:${dll} unregister ${dll} CLEANUP ${dll} REQUIRES wine)
endforeach()
foreach(server webmail pages smtp)
  quorvel_wine_test(serve:${server} serve ${server} SETUP ${server} REQUIRES wine)
  quorvel_wine_test(stop:${server} stop ${server} CLEANUP ${server})
endforeach()

quorvel_wine_test(dll:imports imports)
quorvel_wine_test(dll:exports exports)

# The unit tests, listed when ctest starts (the build needs no Wine). The
# stand-ins serve the object layer's tests (their fixture needs the prefix's).
gtest_discover_tests(quorvel_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
                     PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED standins)

# The scripts and the compiled clients share the registered DLL, and so its
# DllErr.log: one at a time.
file(GLOB WINE_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*_test.vbs)
foreach(script ${WINE_SCRIPTS})
  get_filename_component(name ${script} NAME_WE)
  set(servers)
  if(name STREQUAL "mail_test")
    set(servers webmail)
  elseif(name STREQUAL "supervise_test")
    set(servers pages)
  elseif(name STREQUAL "send_mail_test")
    set(servers smtp)
  endif()
  string(REGEX REPLACE "_test$" "" short ${name})
  quorvel_wine_test(vbs:${short} vbs ${name} REQUIRES wine quorvel standins ${servers} LOCK quorvel.dll)
endforeach()
foreach(client early_binding surrogate)
  add_test(NAME ${client} COMMAND ${client}_client)
  set_tests_properties(${client} PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED "wine;quorvel" RESOURCE_LOCK quorvel.dll)
endforeach()

# The package in a fresh prefix of its own.
quorvel_wine_test(package package)
