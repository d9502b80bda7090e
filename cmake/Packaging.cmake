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

if(WIN32)
  set(CPACK_GENERATOR "ZIP;NSIS")
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_NSIS_PACKAGE_NAME Kvo-Umsetzer)
  set(CPACK_NSIS_DISPLAY_NAME Kvo-Umsetzer)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_MUI_ICON ${KVO_ICO})
  set(CPACK_NSIS_MUI_UNIICON ${KVO_ICO})
  set(CPACK_NSIS_INSTALLED_ICON_NAME kvo-umsetzer.exe)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  # A 64-bit installer for the 64-bit programs, in Unicode.
  set(CPACK_NSIS_DEFINES "Unicode true\nTarget amd64-unicode")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_UNINSTALL_NAME Deinstallieren)
  # The Start menu: the window, and the guide.
  set(CPACK_PACKAGE_EXECUTABLES kvo-umsetzer Kvo-Umsetzer)
  set(CPACK_NSIS_MENU_LINKS Anleitung.html "Kvo-Umsetzer Anleitung")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION
      "Kvo-Umsetzer bringt die Datendateien (*.dat) eines Stellwerk-Simulators
von Version 1.0 (30.12.2007) auf Version 1.1 (20.10.2009). Die alte Datei
bleibt unverändert mit der Endung .old erhalten. Ein kleines Fenster nimmt
einzelne Dateien, gezogene Dateien und ganze Ordner; kvo-umsetzer-cli tut
dasselbe auf der Befehlszeile.")
endif()

include(CPack)
