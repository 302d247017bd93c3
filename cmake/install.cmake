# What an installation holds.
#
# POSIX: `cmake --install build --prefix DIR` puts the host in DIR/bin and the
# component library in DIR/lib; the installed host finds the library there.
#
# Windows: the package for a production server, quorvel-VERSION-win64.zip
# (`cpack` in the Windows build folder, see scripts/package-windows.sh):
# quorvel.dll, the type library as quorvel.tlb for clients that bind early,
# quorvel-doctor.exe (the checks of quorvel doctor) and INSTALL.txt. The stand-in COM servers that the tests use in place of the
# directory services and mail components stay out of it: registered on a real
# server they would take over the real providers' names.
if(WIN32)
  install(FILES $<TARGET_FILE:quorvel> DESTINATION .)
  install(FILES $<TARGET_FILE:quorvel_doctor_program> DESTINATION .)
  install(FILES ${QUORVEL_TLB} DESTINATION .)
  # Plain text for Windows administrators: CR LF line ends, the version filled in.
  set(QUORVEL_INSTALL_TXT ${CMAKE_BINARY_DIR}/package/INSTALL.txt)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/INSTALL.txt.in ${QUORVEL_INSTALL_TXT}
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${QUORVEL_INSTALL_TXT} DESTINATION .)

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
  # lines run; found beside the library, in the bin/ beside its folder, or in PATH.
  install(TARGETS quorvel_cmd quorvel_cacls RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The installed host looks for the library this far from itself.
  file(RELATIVE_PATH QUORVEL_INSTALLED_LIBRARY /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${CMAKE_INSTALL_LIBDIR}/libquorvel.so)
  target_compile_definitions(quorvel_host PRIVATE QUORVEL_INSTALLED_LIBRARY="${QUORVEL_INSTALLED_LIBRARY}")
endif()
