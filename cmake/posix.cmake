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
target_link_libraries(quorvel_runtime PUBLIC Threads::Threads ${CMAKE_DL_LIBS})

# The name the loader knows LIBRARY by (its SONAME), for a dlopen made
# only when it is needed; FALLBACK when the file does not say.
function(quorvel_soname var library fallback)
  set(name ${fallback})
  if(CMAKE_OBJDUMP)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${library} OUTPUT_VARIABLE dump ERROR_QUIET)
    if(dump MATCHES "SONAME +([^ \n]+)")
      set(name ${CMAKE_MATCH_1})
    endif()
  endif()
  set(${var} ${name} PARENT_SCOPE)
endfunction()

# SQLite is loaded by the first store opened (platform/posix/runtime/sqlite_library.cc):
# the host and the component use only its headers. The stand-ins, whose stores
# are SQLite databases, link it, and the loader then finds that same copy.
list(GET SQLite3_LIBRARIES 0 QUORVEL_SQLITE_FILE)
quorvel_soname(QUORVEL_SQLITE_SONAME ${QUORVEL_SQLITE_FILE} libsqlite3.so.0)
target_include_directories(quorvel_runtime PUBLIC ${SQLite3_INCLUDE_DIRS})
target_compile_definitions(quorvel_runtime PRIVATE QUORVEL_SQLITE_LIBRARY="${QUORVEL_SQLITE_SONAME}")
target_link_libraries(quorvel_iis PUBLIC SQLite::SQLite3)

# libcurl is loaded by the first HTTP or SMTP request (platform/posix/curl.cc):
# only its headers are used at build time.
list(GET CURL_LIBRARIES 0 QUORVEL_CURL_FILE)
quorvel_soname(QUORVEL_CURL_SONAME ${QUORVEL_CURL_FILE} libcurl.so.4)
target_include_directories(quorvel_platform PRIVATE ${CURL_INCLUDE_DIRS})
target_compile_definitions(quorvel_platform PRIVATE QUORVEL_CURL_LIBRARY="${QUORVEL_CURL_SONAME}")
target_link_libraries(quorvel_platform PUBLIC crypt ${CMAKE_DL_LIBS})

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

set_target_properties(quorvel_webmail_program PROPERTIES OUTPUT_NAME quorvel-webmail)

set_target_properties(quorvel_host PROPERTIES OUTPUT_NAME quorvel)
# The host finds the library and the webmail program it was built with beside
# itself, and in the build tree the example machine and the reference in the source.
target_compile_definitions(quorvel_host PRIVATE QUORVEL_DEFAULT_LIBRARY="$<TARGET_FILE:quorvel_com>"
                                                QUORVEL_DEFAULT_WEBMAIL="$<TARGET_FILE:quorvel_webmail_program>"
                                                QUORVEL_SOURCE_EXAMPLE="${CMAKE_SOURCE_DIR}/demo/machine"
                                                QUORVEL_SOURCE_DOCS="${CMAKE_SOURCE_DIR}/docs")
add_dependencies(quorvel_host quorvel_com quorvel_standins quorvel_webmail_program)

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

# The programs and libraries a call runs carry the C++ runtime in them:
# loading and binding libstdc++.so would take a call that edits one file
# longer than the edit. Nothing of the runtime crosses their boundaries
# (COM interfaces, BSTRs and VARIANTs only; no exception leaves a library),
# and the libraries keep their copy hidden. SQLite stays one shared copy in
# the process: its locks on a database file are per process, and two copies
# would drop each other's. The webmail program keeps the shared runtime of
# the HTTP library it stands on.
set(QUORVEL_CALL_TARGETS quorvel_com quorvel_standins quorvel_host quorvel_cmd quorvel_cacls)
if(NOT QUORVEL_SANITIZE)
  foreach(target ${QUORVEL_CALL_TARGETS})
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endforeach()
endif()

# Their relocations packed, where the linker and the loader know how: a
# process that starts for one call applies thousands of them.
include(CheckLinkerFlag)
check_linker_flag(CXX "-Wl,-z,pack-relative-relocs" QUORVEL_PACKED_RELOCS)
if(QUORVEL_PACKED_RELOCS)
  foreach(target ${QUORVEL_CALL_TARGETS})
    target_link_options(${target} PRIVATE -Wl,-z,pack-relative-relocs)
  endforeach()
endif()

if(QUORVEL_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
if(QUORVEL_BENCHMARKS)
  add_subdirectory(bench)
endif()
