# The Windows build: quorvel.dll, a real in-process COM server with its type
# library embedded, and the programs that scripts/test-windows.sh runs under Wine.
enable_language(RC)
# cpack packs what the package holds (cmake/install.cmake) without building
# everything else first: scripts/package-windows.sh builds only that.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

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

# The IDL as compiled carries each method's summary from the reference as
# its helpstring, which object browsers show.
set(QUORVEL_HELP_IDL ${GEN_DIR}/quorvel_help.idl)
quorvel_generate_reference(OUTPUT ${QUORVEL_HELP_IDL}
                           ARGS --idl ${CMAKE_SOURCE_DIR}/component/quorvel.idl ${QUORVEL_HELP_IDL}
                           DEPENDS ${CMAKE_SOURCE_DIR}/component/quorvel.idl)
set(QUORVEL_TLB ${GEN_DIR}/quorvel.tlb)
add_custom_command(
  OUTPUT ${QUORVEL_TLB}
  COMMAND ${QUORVEL_WIDL} -m64 -t -o ${QUORVEL_TLB} -I${QUORVEL_WINE_IDL_DIR} -L${QUORVEL_STDOLE_DIR}
          ${QUORVEL_HELP_IDL}
  DEPENDS ${QUORVEL_HELP_IDL}
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
  # The tests, run under Wine by CTest.
  include(${CMAKE_SOURCE_DIR}/tests/windows.cmake)
endif()

# The FTP benchmark as a Windows program, built on demand (scripts/bench-windows.sh).
add_executable(ftp_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/bench/ftp_bench.cc)
set_target_properties(ftp_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(ftp_bench PRIVATE quorvel_core)
target_compile_options(ftp_bench PRIVATE ${QUORVEL_WARNINGS})
target_link_options(ftp_bench PRIVATE -static)
