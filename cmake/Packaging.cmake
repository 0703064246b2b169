# Install layout and the Debian package (cmake --build build --target package).
include(GNUInstallDirs)

set(SCANDOR_ID de.kaveno.Scandor)
set(PKG ${PROJECT_SOURCE_DIR}/resources/package)

if(TARGET scandor)
  install(TARGETS scandor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS scandor-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET scandor-helper)
  install(TARGETS scandor-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/scandor)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/scandor/demo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/grafana/scandor-dashboard.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/scandor/grafana)
install(FILES ${PKG}/${SCANDOR_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PKG}/${SCANDOR_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The policy names the helper by the prefix the files are installed under (the
# package's /usr, not the configured one), so it is written at install time.
install(CODE "
  set(SCANDOR_HELPER_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/scandor/scandor-helper\")
  set(policy \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/polkit-1/actions/${SCANDOR_ID}.policy\")
  message(STATUS \"Installing: \${policy}\")
  configure_file(\"${PKG}/${SCANDOR_ID}.policy\" \"\${policy}\" @ONLY)
")
install(FILES ${PKG}/scandor-cli.bash-completion RENAME scandor-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The program's icon: the scalable picture and its rendered sizes.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
        OPTIONAL FILES_MATCHING PATTERN "*.svg" PATTERN "*.png")

# Manual pages go in compressed, as Debian wants them.
find_program(GZIP gzip REQUIRED)
foreach(page scandor.1 scandor-cli.1)
  set(gz ${PROJECT_BINARY_DIR}/package/${page}.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND ${GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${gz}
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  list(APPEND SCANDOR_MAN_PAGES ${gz})
endforeach()
set(changelog ${PROJECT_BINARY_DIR}/package/changelog.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND ${GZIP} -9n -c ${PKG}/changelog > ${changelog}
                   DEPENDS ${PKG}/changelog VERBATIM)
add_custom_target(scandor_package_docs ALL DEPENDS ${SCANDOR_MAN_PAGES} ${changelog})
install(FILES ${SCANDOR_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PKG}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME scandor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KAVENO <scandor@kaveno.de>")
set(CPACK_PACKAGE_VENDOR KAVENO)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tells whether your drives are healthy")
set(CPACK_PACKAGE_DESCRIPTION
"Free KAVENO Scandor checks the health of a computer's drives. Its
S.M.A.R.T. test reads and rates a drive's own health attributes (ATA and
NVMe) and shows them as a table with one bar per attribute; its sector
surface test reads every sector of a drive, never writing, and reports
every block that cannot be read, by e-mail if wished. The window runs as
the user; a small helper, started through polkit, opens drives read-only.
scandor-cli runs the same tests for servers and scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE http://www.kaveno.de/scandor)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# shlibdeps cannot see the programs the helper is started through.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, polkitd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PKG}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

# The schedules: systemd units, installed disabled (README: how to enable them).
# The build tree gets a copy naming its own scandor-cli, for systemd-analyze verify.
set(SCANDOR_UNITS scandor-metrics.service scandor-metrics.timer scandor-check.service scandor-check.timer
                  scandor-scan@.service scandor-scan@.timer)
foreach(unit ${SCANDOR_UNITS})
  set(SCANDOR_CLI $<TARGET_FILE:scandor-cli>)
  file(READ ${PROJECT_SOURCE_DIR}/resources/systemd/${unit}.in unit_text)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/systemd/${unit}.in)
  string(REPLACE "@SCANDOR_CLI@" "$<TARGET_FILE:scandor-cli>" unit_text "${unit_text}")
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/systemd/${unit} CONTENT "${unit_text}")
endforeach()
install(CODE "
  foreach(unit ${SCANDOR_UNITS})
    set(SCANDOR_CLI \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/scandor-cli\")
    set(target \"\$ENV{DESTDIR}/lib/systemd/system/\${unit}\")
    message(STATUS \"Installing: \${target}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/resources/systemd/\${unit}.in\" \"\${target}\" @ONLY)
  endforeach()
")
