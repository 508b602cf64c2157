# The Debian package: `cpack -G DEB` in a build folder (scripts/package makes one from a
# clean release build). It installs under /usr what `cmake --install` installs, plus the
# documentation Debian asks of every package.
include(GNUInstallDirs)

set(QUILLMOOR_DEB_DOCS ${CMAKE_BINARY_DIR}/debian-doc)
# Debian wants the changelog and manual pages compressed, reproducibly: no name or time
# stamp inside.
set(quillmoor_compressed)
foreach(source IN ITEMS debian/changelog quillmoor.1 quillmoor-exporter.1)
  get_filename_component(name ${source} NAME)
  add_custom_command(
    OUTPUT ${QUILLMOOR_DEB_DOCS}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLMOOR_DEB_DOCS}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/data/${source} > ${QUILLMOOR_DEB_DOCS}/${name}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${source}
    VERBATIM)
  list(APPEND quillmoor_compressed ${QUILLMOOR_DEB_DOCS}/${name}.gz)
endforeach()
add_custom_target(quillmoor_debian_docs ALL DEPENDS ${quillmoor_compressed})
install(FILES ${QUILLMOOR_DEB_DOCS}/changelog.gz ${PROJECT_SOURCE_DIR}/data/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmoor)
install(FILES ${QUILLMOOR_DEB_DOCS}/quillmoor.1.gz ${QUILLMOOR_DEB_DOCS}/quillmoor-exporter.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillmoor developers")
set(CPACK_PACKAGE_CONTACT "The Quillmoor developers <quillmoor@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "system monitor and optimiser for developers and local AI")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Install with DESTDIR and the real prefix, so what is written at install time (the polkit
# policy's path to the helper) names /usr, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/quillmoor/quillmoor)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description under the summary; CPack indents each line and marks empty ones.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillmoor lives in the system tray and samples the machine once a second
from the kernel: load per core, memory and pressure, disks, network,
temperatures and fans, and the heaviest processes with four minutes of
history.

For people who run AI models locally it watches the Ollama server and its
loaded models, vector-database containers, listening development ports and
model files, and empties developer and model caches on request.

The package also holds quillmoor-exporter, which serves the same figures to
Prometheus on machines without a desktop, as a systemd user service.")
# Shared libraries are found by dpkg-shlibdeps; the QML modules the screens import are
# loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtqml, qml6-module-qtqml-workerscript, qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qt6-qpa-plugins")
# What lights up optional features: performance presets, drive health, command
# descriptions, the latency probe, and the root-only memory purge.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "power-profiles-daemon, udisks2, man-db, iputils-ping, pkexec")

include(CPack)
