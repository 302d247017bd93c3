# The POSIX build: libquorvel.so over our own platform layer, the quorvel host,
# the tests and the benchmarks.
find_package(PkgConfig REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(Threads REQUIRED)
find_package(CURL REQUIRED)
# The IIS stand-in seals the secrets of its store with libcrypto.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(quorvel_iis PRIVATE OpenSSL::Crypto)

# What both the component and the host need of the POSIX machine: the COM and
# Automation runtime (BSTR, VARIANT), the registry store and the machine folder.
file(GLOB RUNTIME_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/posix/runtime/*.cc)
add_library(quorvel_runtime STATIC ${RUNTIME_SOURCES})
target_include_directories(quorvel_runtime PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(quorvel_runtime PRIVATE ${QUORVEL_WARNINGS})
target_link_libraries(quorvel_runtime PUBLIC SQLite::SQLite3 Threads::Threads ${CMAKE_DL_LIBS})

target_link_libraries(quorvel_platform PUBLIC quorvel_runtime CURL::libcurl crypt)

# The library is libquorvel.so; its target has another name than the host's
# executable, `quorvel`, so that the two never clash in the build tree.
add_library(quorvel_com SHARED ${CMAKE_SOURCE_DIR}/component/exports.cc)
target_link_libraries(quorvel_com PRIVATE quorvel_core)
target_compile_options(quorvel_com PRIVATE ${QUORVEL_WARNINGS})
# Only the four entry points leave the library.
set_target_properties(quorvel_com PROPERTIES OUTPUT_NAME quorvel C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                         VISIBILITY_INLINES_HIDDEN ON)
# The static libraries linked in (core, runtime) stay hidden too.
target_link_options(quorvel_com PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)

# libquorvel_standins.so beside the host. A fresh machine's registry is
# seeded from it (see registry_store.cc), so the runtime knows where it was built.
add_library(quorvel_standins SHARED ${STANDIN_SOURCES})
target_link_libraries(quorvel_standins PRIVATE quorvel_iis quorvel_platform)
target_compile_options(quorvel_standins PRIVATE ${QUORVEL_WARNINGS})
set_target_properties(quorvel_standins PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                                  VISIBILITY_INLINES_HIDDEN ON)
target_link_options(quorvel_standins PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)
target_compile_definitions(quorvel_runtime PRIVATE
  QUORVEL_DEFAULT_STANDINS="$<TARGET_FILE:quorvel_standins>")

# The webmail stand-in, an outside program the host runs: it shares the
# user-list layout, the profile files and the locks with the component.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
file(GLOB WEBMAIL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/webmail/*.cc)
add_library(quorvel_webmail STATIC ${WEBMAIL_SOURCES})
target_link_libraries(quorvel_webmail PUBLIC quorvel_core PkgConfig::HTTPLIB)
target_compile_options(quorvel_webmail PRIVATE ${QUORVEL_WARNINGS})

file(GLOB HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/quorvel/*.cc)
add_executable(quorvel_host ${HOST_SOURCES})
set_target_properties(quorvel_host PROPERTIES OUTPUT_NAME quorvel)
# The host reaches the component only through the registry, the library's
# exports and IDispatch: it links the platform seam and the generated
# interface, not the component.
target_sources(quorvel_host PRIVATE ${GEN_DIR}/quorvel_interface.cc)
target_include_directories(quorvel_host PRIVATE ${GEN_DIR})
target_link_libraries(quorvel_host PRIVATE quorvel_platform quorvel_webmail)
target_compile_options(quorvel_host PRIVATE ${QUORVEL_WARNINGS})
# The host finds the library it was built with beside itself.
target_compile_definitions(quorvel_host PRIVATE QUORVEL_DEFAULT_LIBRARY="$<TARGET_FILE:quorvel_com>")
add_dependencies(quorvel_host quorvel_com quorvel_standins)

# The command interpreter and the ACL tool of the POSIX machine: the
# component's command lines run through them. WinExec looks for programs
# beside the library (or in the bin/ beside an installed lib/), then in PATH.
find_library(QUORVEL_ACL_LIBRARY acl REQUIRED)
find_path(QUORVEL_ACL_INCLUDE sys/acl.h REQUIRED)
add_executable(quorvel_cmd ${CMAKE_SOURCE_DIR}/tools/cmd/main.cc)
set_target_properties(quorvel_cmd PROPERTIES OUTPUT_NAME cmd)
target_link_libraries(quorvel_cmd PRIVATE quorvel_runtime)
target_compile_options(quorvel_cmd PRIVATE ${QUORVEL_WARNINGS})
add_executable(quorvel_cacls ${CMAKE_SOURCE_DIR}/tools/cacls/main.cc)
set_target_properties(quorvel_cacls PROPERTIES OUTPUT_NAME cacls)
target_include_directories(quorvel_cacls PRIVATE ${QUORVEL_ACL_INCLUDE})
target_link_libraries(quorvel_cacls PRIVATE quorvel_core ${QUORVEL_ACL_LIBRARY})
target_compile_options(quorvel_cacls PRIVATE ${QUORVEL_WARNINGS})
# Built with the component, since its command lines need them.
add_dependencies(quorvel_com quorvel_cmd quorvel_cacls)

if(QUORVEL_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
if(QUORVEL_BENCHMARKS)
  add_subdirectory(bench)
endif()
