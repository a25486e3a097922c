# Installation of the manual page and the packages CPack builds: a Debian
# package on Linux, a .zip with pickcopy.exe and a plain-text manual for
# each Windows target.
#
# The manual is made from its template with the project's version, which
# its header and footer show: build/<preset>/pickcopy.1. Windows users get
# the manual that describes Windows.
if(WIN32)
  set(PICKCOPY_MANUAL_TEMPLATE ${PROJECT_SOURCE_DIR}/src/dialogue/pickcopy-windows.1.in)
else()
  set(PICKCOPY_MANUAL_TEMPLATE ${PROJECT_SOURCE_DIR}/src/dialogue/pickcopy.1.in)
endif()
set(PICKCOPY_MANUAL ${CMAKE_BINARY_DIR}/pickcopy.1)
configure_file(${PICKCOPY_MANUAL_TEMPLATE} ${PICKCOPY_MANUAL} @ONLY)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RPM_PACKAGE_LICENSE MIT)

if(WIN32)
  find_program(PICKCOPY_MANDOC mandoc)
  find_program(PICKCOPY_COL col)
  if(PICKCOPY_MANDOC AND PICKCOPY_COL)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/pickcopy.txt
      COMMAND ${PICKCOPY_MANDOC} -T ascii ${PICKCOPY_MANUAL}
              | ${PICKCOPY_COL} -bx > ${CMAKE_BINARY_DIR}/pickcopy.txt
      DEPENDS ${PICKCOPY_MANUAL}
      COMMENT "Rendering the manual as plain text"
      VERBATIM)
    add_custom_target(manual_text ALL DEPENDS ${CMAKE_BINARY_DIR}/pickcopy.txt)
    install(FILES ${CMAKE_BINARY_DIR}/pickcopy.txt DESTINATION .)
  else()
    message(WARNING "mandoc or col not found: the .zip will have no manual")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(FILES ${PICKCOPY_MANUAL} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
endif()

set(CPACK_PACKAGE_NAME pickcopy)
# The project has no maintainer address to give; packagers set their own.
set(CPACK_PACKAGE_CONTACT "The pickcopy authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copy one of a set of files, chosen from a menu of their first lines, onto a file")
set(CPACK_PACKAGE_DESCRIPTION
    "pickcopy shows a lettered menu of candidate files, each represented by its
first line, in natural order, and copies the chosen one onto a target file
atomically and durably.")
set(CPACK_PACKAGE_FILE_NAME_DEFAULT_SUFFIX "")
set(CPACK_STRIP_FILES ON)
include(CPack)
