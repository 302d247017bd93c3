# What an installation holds.
#
# POSIX: `cmake --install build --prefix DIR` (with `--strip` for stripped
# binaries) puts the host in DIR/bin, the component and the stand-in library
# in DIR/lib, the command interpreter and the ACL tool that the component's
# command lines run in DIR/libexec/quorvel (their generic names, cmd and
# cacls, would shadow system commands on PATH), the man page in
# DIR/share/man/man1, the example machine in DIR/share/quorvel, and the
# reference, README, CHANGELOG.md and copyright notes in DIR/share/doc/quorvel.
# The installed host finds the library, the example and the reference there.
#
# Windows: the package for a production server, quorvel-VERSION-win64.zip
# (`cpack` in the Windows build folder, see scripts/package-windows.sh):
# quorvel.dll (stripped), the type library as quorvel.tlb for clients that
# bind early, INSTALL.txt, the method reference methods.txt and
# CHANGELOG.txt. The stand-in COM servers that the tests use in place of the
# directory services and mail components stay out of it: registered on a real
# server they would take over the real providers' names.

# The reference as plain text, for both installations.
set(QUORVEL_METHODS_TXT ${CMAKE_BINARY_DIR}/package/methods.txt)
if(WIN32)
  set(QUORVEL_TEXT_STYLE --windows)
endif()
quorvel_generate_reference(OUTPUT ${QUORVEL_METHODS_TXT} ARGS --text ${QUORVEL_METHODS_TXT} ${QUORVEL_TEXT_STYLE})
set(QUORVEL_PACKAGE_FILES ${QUORVEL_METHODS_TXT})

if(WIN32)
  # The DLL goes without its debug sections: a copy made for the package.
  find_program(QUORVEL_STRIP NAMES ${CMAKE_STRIP} x86_64-w64-mingw32-strip REQUIRED)
  set(QUORVEL_SHIPPED_DLL ${CMAKE_BINARY_DIR}/package/quorvel.dll)
  add_custom_command(OUTPUT ${QUORVEL_SHIPPED_DLL}
                     COMMAND ${QUORVEL_STRIP} --strip-debug -o ${QUORVEL_SHIPPED_DLL} $<TARGET_FILE:quorvel>
                     DEPENDS quorvel COMMENT "Stripping the debug sections of the packaged quorvel.dll")
  list(APPEND QUORVEL_PACKAGE_FILES ${QUORVEL_SHIPPED_DLL})
  install(FILES ${QUORVEL_SHIPPED_DLL} DESTINATION .)
  install(FILES ${QUORVEL_TLB} DESTINATION .)
  # Plain text for Windows administrators: CR LF line ends, the version and
  # the class's GUID (which is also its AppID) filled in.
  file(READ ${CMAKE_SOURCE_DIR}/component/quorvel.idl QUORVEL_IDL)
  if(NOT QUORVEL_IDL MATCHES "uuid\\(([0-9a-fA-F-]+)\\)[^]]*][ \t\r\n]*coclass")
    message(FATAL_ERROR "component/quorvel.idl names no coclass uuid")
  endif()
  string(TOUPPER "{${CMAKE_MATCH_1}}" QUORVEL_CLASS_GUID)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/component/quorvel.idl)
  set(QUORVEL_INSTALL_TXT ${CMAKE_BINARY_DIR}/package/INSTALL.txt)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/INSTALL.txt.in ${QUORVEL_INSTALL_TXT}
                 @ONLY NEWLINE_STYLE CRLF)
  set(QUORVEL_CHANGELOG_TXT ${CMAKE_BINARY_DIR}/package/CHANGELOG.txt)
  configure_file(${CMAKE_SOURCE_DIR}/CHANGELOG.md ${QUORVEL_CHANGELOG_TXT} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${QUORVEL_INSTALL_TXT} ${QUORVEL_METHODS_TXT} ${QUORVEL_CHANGELOG_TXT} DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME quorvel)
  set(CPACK_PACKAGE_FILE_NAME quorvel-${PROJECT_VERSION}-win64)
  # The zip unpacks into one folder of that name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
  include(CPack)
else()
  install(TARGETS quorvel_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS quorvel_com LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # The stand-ins beside the component; a fresh machine's registry points at them.
  install(TARGETS quorvel_standins LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  file(RELATIVE_PATH QUORVEL_INSTALLED_STANDINS /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${CMAKE_INSTALL_LIBDIR}/libquorvel_standins.so)
  target_compile_definitions(quorvel_runtime PRIVATE QUORVEL_INSTALLED_STANDINS="${QUORVEL_INSTALLED_STANDINS}")
  # The command interpreter and the ACL tool that the component's command
  # lines run, in a folder of their own that the component searches.
  set(QUORVEL_LIBEXEC ${CMAKE_INSTALL_LIBEXECDIR}/quorvel)
  install(TARGETS quorvel_cmd quorvel_cacls RUNTIME DESTINATION ${QUORVEL_LIBEXEC})
  file(RELATIVE_PATH QUORVEL_LIBEXEC_FROM_LIBRARY /prefix/${CMAKE_INSTALL_LIBDIR} /prefix/${QUORVEL_LIBEXEC})
  target_compile_definitions(quorvel_platform PRIVATE QUORVEL_LIBEXEC_FROM_LIBRARY="${QUORVEL_LIBEXEC_FROM_LIBRARY}")
  # The installed host looks for the library, the example machine and the
  # reference this far from itself.
  set(QUORVEL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/quorvel)
  set(QUORVEL_EXAMPLEDIR ${CMAKE_INSTALL_DATADIR}/quorvel/example-machine)
  foreach(what LIBRARY EXAMPLE DOCS)
    if(what STREQUAL "LIBRARY")
      set(where ${CMAKE_INSTALL_LIBDIR}/libquorvel.so)
    elseif(what STREQUAL "EXAMPLE")
      set(where ${QUORVEL_EXAMPLEDIR})
    else()
      set(where ${QUORVEL_DOCDIR})
    endif()
    file(RELATIVE_PATH relative /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${where})
    target_compile_definitions(quorvel_host PRIVATE QUORVEL_INSTALLED_${what}="${relative}")
  endforeach()
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/machine/ DESTINATION ${QUORVEL_EXAMPLEDIR})

  # The man page, made from the same reference as `quorvel help`.
  set(QUORVEL_MAN ${CMAKE_BINARY_DIR}/package/quorvel.1)
  quorvel_generate_reference(OUTPUT ${QUORVEL_MAN} ARGS --man ${QUORVEL_MAN} ${PROJECT_VERSION})
  list(APPEND QUORVEL_PACKAGE_FILES ${QUORVEL_MAN})
  install(FILES ${QUORVEL_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${QUORVEL_METHODS_TXT} docs/methods.md docs/host.md README.md CHANGELOG.md
                packaging/copyright DESTINATION ${QUORVEL_DOCDIR})
endif()
# Made with the build; scripts/package-windows.sh builds this target alone,
# which holds what the package holds.
add_custom_target(quorvel_package_files ALL DEPENDS ${QUORVEL_PACKAGE_FILES})
