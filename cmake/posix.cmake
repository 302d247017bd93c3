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
target_link_libraries(quorvel_runtime PUBLIC SQLite::SQLite3 Threads::Threads ${CMAKE_DL_LIBS})

target_link_libraries(quorvel_platform PUBLIC CURL::libcurl crypt)

# The library is libquorvel.so; its target has another name than the host's
# executable, `quorvel`, so that the two never clash in the build tree.
add_library(quorvel_com SHARED ${CMAKE_SOURCE_DIR}/component/exports.cc)
target_include_directories(quorvel_com PRIVATE ${CMAKE_SOURCE_DIR} ${GEN_DIR})
target_link_libraries(quorvel_com PRIVATE quorvel_component)
target_compile_options(quorvel_com PRIVATE ${QUORVEL_WARNINGS})
# Only the four entry points leave the library.
set_target_properties(quorvel_com PROPERTIES OUTPUT_NAME quorvel C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                         VISIBILITY_INLINES_HIDDEN ON)
# The static libraries linked in (the rooms, the runtime) stay hidden too.
target_link_options(quorvel_com PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)

# libquorvel_standins.so beside the host. A fresh machine's registry is
# seeded from it (see registry_store.cc), so the runtime knows where it was built.
set_target_properties(quorvel_standins PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                                  VISIBILITY_INLINES_HIDDEN ON)
target_link_options(quorvel_standins PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)
target_compile_definitions(quorvel_runtime PRIVATE
  QUORVEL_DEFAULT_STANDINS="$<TARGET_FILE:quorvel_standins>")

# The webmail stand-in, an outside program the host runs: it shares the
# user-list layout, the profile files and the locks with the component.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(quorvel_webmail PUBLIC PkgConfig::HTTPLIB)

set_target_properties(quorvel_host PROPERTIES OUTPUT_NAME quorvel)
# The host finds the library it was built with beside itself, and in the
# build tree the example machine and the reference in the source.
target_compile_definitions(quorvel_host PRIVATE QUORVEL_DEFAULT_LIBRARY="$<TARGET_FILE:quorvel_com>"
                                                QUORVEL_SOURCE_EXAMPLE="${CMAKE_SOURCE_DIR}/demo/machine"
                                                QUORVEL_SOURCE_DOCS="${CMAKE_SOURCE_DIR}/docs")
add_dependencies(quorvel_host quorvel_com quorvel_standins)

# The command interpreter and the ACL tool of the POSIX machine: the
# component's command lines run through them. WinExec looks for programs
# beside the library (or in the bin/ beside an installed lib/), then in PATH.
find_library(QUORVEL_ACL_LIBRARY acl REQUIRED)
find_path(QUORVEL_ACL_INCLUDE sys/acl.h REQUIRED)
set_target_properties(quorvel_cmd PROPERTIES OUTPUT_NAME cmd)
set_target_properties(quorvel_cacls PROPERTIES OUTPUT_NAME cacls)
target_include_directories(quorvel_cacls PRIVATE ${QUORVEL_ACL_INCLUDE})
target_link_libraries(quorvel_cacls PRIVATE ${QUORVEL_ACL_LIBRARY})
# Built with the component, since its command lines need them.
add_dependencies(quorvel_com quorvel_cmd quorvel_cacls)

if(QUORVEL_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
if(QUORVEL_BENCHMARKS)
  add_subdirectory(bench)
endif()
