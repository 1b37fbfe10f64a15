# The Debian package "vezorodar": what `cmake --install` puts under the
# prefix, and how `cpack -G DEB` (or scripts/package) wraps it. Nothing here
# runs during the build.
#
#   lib/vezorodar/VezoRodarC              the agent
#   lib/vezorodar/VelkVatUploader.class   its Java main class, beside it
#   bin/VezoRodarC                        a link to the agent
#   share/applications/vezorodar-agent.desktop, share/icons/.../vezorodar.png
#
# The launcher has a name of its own: the agent registers its URL scheme per
# user as vezorodar.desktop, which would otherwise hide it.

set(VELK_PACKAGE_DIR lib/vezorodar)
# Installing (and so cpack) takes what is built and builds nothing: the
# package needs the agent and its Java class, not the tests and benchmarks.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS VezoRodarC RUNTIME DESTINATION ${VELK_PACKAGE_DIR})
if(DEFINED VELK_UPLOADER_CLASS AND TARGET velk_vat_uploader)
  install(FILES ${VELK_UPLOADER_CLASS} DESTINATION ${VELK_PACKAGE_DIR})
endif()
install(CODE "
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${bin}\")
  file(CREATE_LINK ../${VELK_PACKAGE_DIR}/VezoRodarC \"\${bin}/VezoRodarC\" SYMBOLIC)
")
install(FILES ${PROJECT_SOURCE_DIR}/app/agent/resources/vezorodar-agent.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/agent/resources/logo.png
        DESTINATION share/icons/hicolor/64x64/apps RENAME vezorodar.png)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vezorodar)
set(CPACK_PACKAGE_VENDOR Corvessa)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VELK Agent: signs and files declarations with the Bulgarian revenue agency")
set(CPACK_PACKAGE_CONTACT "Corvessa <support@vezorodar.bg>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The style sheet's arrow is an SVG image, loaded through Qt's plugin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt5svg5)
# Used when present: the Java VAT client, the uninstaller's password prompt,
# the desktop's handlers, the font with Cyrillic, PKCS#11 keys for TLS.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "default-jre-headless | java11-runtime-headless, pkexec, xdg-utils, fonts-dejavu-core, libengine-pkcs11-openssl")
include(CPack)
