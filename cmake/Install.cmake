# `cmake --install` and the Debian package. The layout: the two programs in
# bin/, the crash helper, the image decoder and the shipped plugins (plugins/)
# in lib/ulmora/, the dictionary in share/ulmora/, the menu entry, its icon
# and the tile storages' MIME types in share/.
install(TARGETS ulmora ulmora-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ulmora-crash RUNTIME DESTINATION ${ULMORA_INSTALL_LIBRARY_DIR})
install(TARGETS ulmora-image-decoder LIBRARY DESTINATION ${ULMORA_INSTALL_LIBRARY_DIR})

# Every plugin module built into the plugins folder, whichever storages/
# subfolder defines it, so that a new plugin needs no edit here.
get_property(storage_folders DIRECTORY ${PROJECT_SOURCE_DIR}/storages PROPERTY SUBDIRECTORIES)
set(shipped_plugins "")
foreach(folder IN LISTS storage_folders)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(output ${target} LIBRARY_OUTPUT_DIRECTORY)
    if(type STREQUAL "MODULE_LIBRARY" AND output STREQUAL ULMORA_PLUGIN_DIR)
      list(APPEND shipped_plugins ${target})
    endif()
  endforeach()
endforeach()
install(TARGETS ${shipped_plugins} LIBRARY DESTINATION ${ULMORA_INSTALL_LIBRARY_DIR}/plugins)

install(FILES ${PROJECT_SOURCE_DIR}/src/app/Ulmora.mld DESTINATION ${ULMORA_INSTALL_DATA_DIR})
set(desktop ${PROJECT_SOURCE_DIR}/src/app/desktop)
install(FILES ${desktop}/ulmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop}/ulmora-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ulmora.xml)
install(FILES ${desktop}/ulmora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128)
  install(FILES ${desktop}/ulmora-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ulmora.png)
endforeach()

# cmake --build build --target package: build/ulmora_VERSION_ARCH.deb. The
# Depends line comes from dpkg-shlibdeps over the installed programs and
# plugins, so apt-get pulls exactly the libraries they link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ulmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ulmora developers <ulmora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "inspect and maintain map-tile caches")
set(CPACK_PACKAGE_DESCRIPTION "A desktop program and a command-line tool (ulmora-cli) that list, preview,\nverify, export, copy and delete the plates of map-tile caches: MBTiles,\nPMTiles, GeoPackage and folder trees, each through a storage plugin.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds the screen through a platform plugin it loads at run time, which
# dpkg-shlibdeps cannot see; the image formats of WebP plates likewise.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
