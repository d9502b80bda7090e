# Packages a user installs: a Debian package on Linux; on Windows a portable
# ZIP and an NSIS installer, both from the cross build.
#   cmake --build build --target package
set(CPACK_PACKAGE_NAME kvo-umsetzer)
set(CPACK_PACKAGE_VENDOR "Die Entwickler von Kvo-Umsetzer")
set(CPACK_PACKAGE_CONTACT "Die Entwickler von Kvo-Umsetzer <kvo-umsetzer@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Datendateien des Stellwerks von Version 1.0 auf 1.1 umsetzen")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Kvo-Umsetzer)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# Every time inside a package is the last commit's (SOURCE_DATE_EPOCH), read
# when the package is made: two builds of one commit give the same bytes.
set(CPACK_KVO_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageTime.cmake)

if(WIN32)
  set(CPACK_GENERATOR "ZIP;NSIS")
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_NSIS_PACKAGE_NAME Kvo-Umsetzer)
  set(CPACK_NSIS_DISPLAY_NAME Kvo-Umsetzer)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_MUI_ICON ${KVO_ICO})
  set(CPACK_NSIS_MUI_UNIICON ${KVO_ICO})
  set(CPACK_NSIS_UNINSTALL_NAME Deinstallieren)
  # Our own installer script, in German, with the programs in the install
  # folder itself: CPack's own puts Start-menu links into bin\.
  list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt finds no screen without its platform plugins, and the file dialog
  # speaks German only with Qt's translations: both are needed, not merely
  # recommended.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
  # Debian's descriptions are English; the German text follows.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "convert signal-box simulator data files from version 1.0 to 1.1")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Kvo-Umsetzer converts the data files (*.dat) of a railway signal-box
simulator from version 1.0 (30.12.2007) to version 1.1 (20.10.2009). The
original stays untouched under the same name with the ending .old. A small
window takes single files, dropped files and whole folders;
kvo-umsetzer-cli does the same on the command line. Both speak German.
.
Kvo-Umsetzer bringt die Datendateien (*.dat) eines Stellwerk-Simulators
von Version 1.0 auf Version 1.1. Die alte Datei bleibt unverändert mit der
Endung .old erhalten.")
endif()

include(CPack)
