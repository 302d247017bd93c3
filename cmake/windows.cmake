# The Windows build: quorvel.dll, a real in-process COM server with its type
# library embedded, and the programs that scripts/test-windows.sh runs under Wine.
enable_language(RC)

# Keep <windows.h> from defining min/max over the shared code, and ask for the
# Vista-era API (RegDeleteTreeW, GetModuleHandleExW).
target_compile_definitions(quorvel_platform PUBLIC NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
# Seam functions share names with Win32's A/W macros; see the header.
target_compile_options(quorvel_platform PUBLIC "SHELL:-include ${CMAKE_SOURCE_DIR}/platform/win32/seam_names.h")
target_link_libraries(quorvel_platform PUBLIC ole32 oleaut32 uuid advapi32 user32 wininet ws2_32 bcrypt)

# Type library: widl compiles the IDL; the system IDL files and stdole2.tlb
# come from Wine, since MinGW ships neither.
find_program(QUORVEL_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
find_path(QUORVEL_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(QUORVEL_STDOLE_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
                /usr/lib64/wine/x86_64-windows /usr/lib/wine
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(QUORVEL_TLB ${GEN_DIR}/quorvel.tlb)
add_custom_command(
  OUTPUT ${QUORVEL_TLB}
  COMMAND ${QUORVEL_WIDL} -m64 -t -o ${QUORVEL_TLB} -I${QUORVEL_WINE_IDL_DIR} -L${QUORVEL_STDOLE_DIR}
          ${CMAKE_SOURCE_DIR}/component/quorvel.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/component/quorvel.idl
  COMMENT "Compiling the type library from quorvel.idl")

# The type library and the version resource.
configure_file(${CMAKE_SOURCE_DIR}/cmake/quorvel.rc.in ${GEN_DIR}/quorvel.rc @ONLY)
set_source_files_properties(${GEN_DIR}/quorvel.rc PROPERTIES OBJECT_DEPENDS ${QUORVEL_TLB})

add_library(quorvel SHARED
  ${CMAKE_SOURCE_DIR}/component/exports.cc
  ${CMAKE_SOURCE_DIR}/platform/win32/quorvel.def
  ${GEN_DIR}/quorvel.rc
  ${QUORVEL_TLB})
set_target_properties(quorvel PROPERTIES PREFIX "" OUTPUT_NAME quorvel
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_include_directories(quorvel PRIVATE ${CMAKE_SOURCE_DIR} ${GEN_DIR})
target_link_libraries(quorvel PRIVATE quorvel_component)
target_compile_options(quorvel PRIVATE ${QUORVEL_WARNINGS})
# Nothing but system DLLs beside it: the C++ runtime, libgcc and winpthread go inside.
target_link_options(quorvel PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--no-undefined)

# quorvel_standins.dll: the same stand-ins as on POSIX, registered with regsvr32.
target_sources(quorvel_standins PRIVATE ${CMAKE_SOURCE_DIR}/standins/standins.def)
set_target_properties(quorvel_standins PROPERTIES PREFIX "" OUTPUT_NAME quorvel_standins
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The IIS stand-in seals the secrets of its store with the system's data protection.
target_link_libraries(quorvel_iis PRIVATE crypt32)
target_link_options(quorvel_standins PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--no-undefined)

if(QUORVEL_TESTS)
  # GoogleTest from source, built with the same toolchain.
  set(QUORVEL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUORVEL_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its Notification needs std::mutex, which the win32 thread model lacks.
  target_compile_options(gtest PUBLIC "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/win32/gtest_notification.h")

  # The platform-independent unit tests, and the Windows-only ones of
  # tests/win32/. A file named *_posix_test.cc needs the POSIX build and stays
  # out; so, as a safety net, does one that includes a POSIX system header or
  # the POSIX side of the platform layer, and one that starts std::threads,
  # which the win32 thread model of this toolchain lacks (see mingw-w64.cmake).
  file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/tests/*_test.cc
    ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cc)
  list(FILTER WIN_TEST_SOURCES EXCLUDE REGEX "_posix_test\\.cc$")
  set(POSIX_ONLY_TESTS)
  foreach(src ${WIN_TEST_SOURCES})
    file(STRINGS ${src} posix_includes
         REGEX "#include [<\"](unistd\\.h|sys/|dlfcn\\.h|fcntl\\.h|spawn\\.h|pwd\\.h|platform/posix/|thread>|mutex>|future>)")
    if(posix_includes)
      list(APPEND POSIX_ONLY_TESTS ${src})
    endif()
  endforeach()
  if(POSIX_ONLY_TESTS)
    list(REMOVE_ITEM WIN_TEST_SOURCES ${POSIX_ONLY_TESTS})
    list(TRANSFORM POSIX_ONLY_TESTS REPLACE ".*/" "")
    message(STATUS "Unit tests left out of the Windows build (POSIX only): ${POSIX_ONLY_TESTS}")
  endif()
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

  # A compiled client that binds early, through the vtable of _SiteManage.
  add_executable(early_binding_client ${CMAKE_SOURCE_DIR}/tests/wine/early_binding_client.cc
                                      ${GEN_DIR}/quorvel_interface.h)
  set_target_properties(early_binding_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(early_binding_client PRIVATE ${CMAKE_SOURCE_DIR} ${GEN_DIR})
  target_compile_definitions(early_binding_client PRIVATE NOMINMAX _WIN32_WINNT=0x0601)
  target_link_libraries(early_binding_client PRIVATE ole32 oleaut32 uuid)
  target_compile_options(early_binding_client PRIVATE ${QUORVEL_WARNINGS}
                         "SHELL:-include ${CMAKE_SOURCE_DIR}/platform/win32/seam_names.h")
  target_link_options(early_binding_client PRIVATE -static)

  # Put where the command interpreter finds a program, it records the
  # command line it was started with.
  add_executable(record_command_line ${CMAKE_SOURCE_DIR}/tests/wine/record_command_line.cc)
  set_target_properties(record_command_line PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_options(record_command_line PRIVATE ${QUORVEL_WARNINGS})
  target_link_options(record_command_line PRIVATE -static)
endif()

# The FTP benchmark as a Windows program, built on demand (scripts/bench-windows.sh).
add_executable(ftp_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/ftp_bench.cc)
set_target_properties(ftp_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(ftp_bench PRIVATE quorvel_core)
target_compile_options(ftp_bench PRIVATE ${QUORVEL_WARNINGS})
target_link_options(ftp_bench PRIVATE -static)
