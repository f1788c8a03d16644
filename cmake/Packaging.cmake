# Installation layout and the Debian package built from it by CPack.
include(GNUInstallDirs)

install(TARGETS quorvane quorvane-reg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(data ${PROJECT_SOURCE_DIR}/data)
set(app_id org.quorvane.Quorvane)
install(FILES ${data}/${app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data}/${app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${data}/icons/${app_id}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${data}/icons/hicolor/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# Debian wants man pages and the changelog compressed with gzip -9n (no name, no time stamp).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed ${CMAKE_CURRENT_BINARY_DIR}/compressed)
set(gz_files)
foreach(source man/quorvane.1 man/quorvane-reg.1 changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(
    OUTPUT ${compressed}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed}
    COMMAND ${GZIP_PROGRAM} -9n -c ${data}/${source} > ${compressed}/${name}.gz
    DEPENDS ${data}/${source}
    VERBATIM)
  list(APPEND gz_files ${compressed}/${name}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${gz_files})
install(FILES ${compressed}/quorvane.1.gz ${compressed}/quorvane-reg.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${compressed}/changelog.gz ${data}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvane developers <developers@quorvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "job dashboard with 26 configurable job slots")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop job dashboard for one person. Its main window offers 26 job\n\
slots, A to Z, each with a title, a linked file and eighteen parameters\n\
kept in the user's settings store. A slot's button opens its job window;\n\
Run starts every open job and each job shows its progress. One slot\n\
connects to a source and a target database over ODBC.\n\
.\n\
The package also holds quorvane-reg, which looks into and changes the\n\
settings store from the command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps; what Qt loads at run time as plugins (the
# window system, the ODBC driver of Qt SQL) cannot be read off the binaries and is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-odbc")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, fonts-arphic-uming, libsqliteodbc | odbc-postgresql")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
