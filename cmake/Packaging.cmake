# The packages' texts, generated from the project's version; for the Debian package also its
# install rules and CPack's settings. `cpack` in a native build tree writes ledger-convert_VERSION_ARCH.deb;
# scripts/package drives it with the reproducible-build settings.
#
# Dates come from SOURCE_DATE_EPOCH when it is set (scripts/package takes the last commit's), so
# the same commit gives the same bytes.
string(TIMESTAMP LEDGER_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP LEDGER_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)

if(WIN32)
  # The Windows zip's texts, with the line ends Windows editors expect (scripts/package zips
  # them with the programs).
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt ${packaging_dir}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${packaging_dir}/LICENSE.txt
                 @ONLY NEWLINE_STYLE CRLF)
  return()
endif()

find_program(LEDGER_GZIP gzip REQUIRED)

# Man pages and the changelog, compressed without a name or a time stamp in the gzip header.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${packaging_dir}/changelog @ONLY)
set(compressed ${packaging_dir}/changelog.gz)
foreach(page ledger-convert ledger-convert-gui)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${packaging_dir}/${page}.1 @ONLY)
  list(APPEND compressed ${packaging_dir}/${page}.1.gz)
endforeach()
foreach(file IN LISTS compressed)
  string(REGEX REPLACE "[.]gz$" "" plain ${file})
  add_custom_command(OUTPUT ${file}
                     COMMAND ${LEDGER_GZIP} -9 -n -c ${plain} > ${file}
                     DEPENDS ${plain}
                     VERBATIM)
endforeach()
add_custom_target(ledger_docs ALL DEPENDS ${compressed})

install(FILES ${packaging_dir}/ledger-convert.1.gz ${packaging_dir}/ledger-convert-gui.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${packaging_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The AppStream metainfo goes with the desktop file that it launches (shell/gtk).
configure_file(${PROJECT_SOURCE_DIR}/packaging/org.ledgerconvert.LedgerConvert.metainfo.xml.in
               ${packaging_dir}/org.ledgerconvert.LedgerConvert.metainfo.xml @ONLY)
set(LEDGER_METAINFO ${packaging_dir}/org.ledgerconvert.LedgerConvert.metainfo.xml)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ledger-convert)
# CPack keeps only three parts of the version unless it is given whole.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Ledger Convert authors")
set(CPACK_PACKAGE_CONTACT "The Ledger Convert authors <authors@ledgerconvert.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert a member export into ledger import files")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://ledgerconvert.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis is the summary above; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ledger Convert turns the tab-separated member export of Vantorel Web 2.0
(Ledger.txt) into the three fixed-format files PVERSION.DAT, CPERW.DAT and
APERW.DAT that the desktop ledger program imports.
.
This package holds the desktop dialog ledger-convert-gui and the command
ledger-convert.")
# Gives every staged file the same time before CPack archives it.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageTimestamps.cmake)
include(CPack)
