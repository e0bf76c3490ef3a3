# The Debian packages (cpack -G DEB in the build folder): marigold with everything the install
# rules name, and one package for each desktop host's extension that was built
# (marigold-nautilus, marigold-purpose), so that the photo tools of one desktop never bring another
# desktop's libraries. Each program's CMakeLists.txt installs its own files (marigold with its
# manual page, completions and sample photos; marigold-gui with its desktop entry and icon;
# plinth-sim; the plug-in module); a new program adds its install rules there and is packaged with
# the rest. Library dependencies are
# declared by dpkg-shlibdeps from the binaries. The package carries the Debian copyright file and
# runs no maintainer scripts: the plug-in module lies in a private folder that ldconfig does not
# serve.
set(CPACK_GENERATOR DEB)
# The values below are written into CPack's configuration as they are (quotes and semicolons too).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME marigold)
set(CPACK_PACKAGE_VENDOR "Marigold")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Marigold maintainers <maintainers@marigold.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "post photos to a Plinth blog")
set(CPACK_PACKAGE_DESCRIPTION
    "Marigold posts photos to a blog on the Plinth service as one photo post,
with caption, tags, link and post state. marigold is its command-line host;
marigold-gui is its graphical host (Qt 6), offered by file and photo managers
under \"Open With\" for images; plinth-sim is a local simulator of the
service, used by 'marigold demo' and 'marigold-gui --demo'.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own translations, for the window's file dialog and its --help in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, qt6-translations-l10n")
# The Debian changelog, compressed as Debian wants it (gzip -9n: no name, no time stamp).
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9n < ${CMAKE_CURRENT_LIST_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(marigold_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marigold)
# One package per install component: marigold, and the extensions' own.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_MARIGOLD_PACKAGE_NAME marigold)
# Each package's description follows the summary line, which all of them share.
set(CPACK_DEBIAN_MARIGOLD_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(marigold_exact "marigold (= ${PROJECT_VERSION})")
if(TARGET marigold_nautilus)
  set(CPACK_DEBIAN_NAUTILUS_PACKAGE_NAME marigold-nautilus)
  set(CPACK_DEBIAN_NAUTILUS_PACKAGE_DEPENDS "${marigold_exact}")
  set(CPACK_DEBIAN_NAUTILUS_PACKAGE_ENHANCES nautilus)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marigold-nautilus COMPONENT nautilus)
  set(CPACK_DEBIAN_NAUTILUS_DESCRIPTION
      "This package adds \"Post to Plinth...\" to the menu of GNOME Files
(Nautilus) for a selection of photos; it opens Marigold's window with them.")
endif()
if(TARGET marigold_purpose)
  set(CPACK_DEBIAN_PURPOSE_PACKAGE_NAME marigold-purpose)
  # The settings page's QML: Qt Quick's controls and layouts, which no library link declares.
  set(CPACK_DEBIAN_PURPOSE_PACKAGE_DEPENDS
      "${marigold_exact}, qml-module-qtquick-controls2, qml-module-qtquick-layouts")
  set(CPACK_DEBIAN_PURPOSE_PACKAGE_ENHANCES libkf5purpose5)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marigold-purpose COMPONENT purpose)
  set(CPACK_DEBIAN_PURPOSE_DESCRIPTION
      "This package adds \"Plinth\" to the Share menu of KDE applications (Gwenview,
Spectacle, Dolphin) for photos: it asks for the blog, caption and tags, posts
the photos with marigold and hands back the post's address.")
endif()
include(CPack)
