# The Debian package (scripts/package: cpack -G DEB in the build folder). The
# libraries it needs come from dpkg-shlibdeps; the data the programs load at run
# time (fonts for the pages, Qt's translations, Qt's window system plugins) is
# named here.
set(VEXO_PACKAGE_MAINTAINER "Vexo Fax developers <maintainers@vexofax.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexofax)
set(CPACK_PACKAGE_VENDOR "Vexo Fax")
set(CPACK_PACKAGE_CONTACT ${VEXO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fax application for Class 1, 2 and 2.0 fax modems")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VEXO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# The summary is the first line of Description; this text follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vexo Fax sends and receives faxes through Class 1, Class 2 and Class 2.0 fax
modems, files every call in four folders (sent, sending, inbox, deleted) and
turns text files, TIFF images, PDF files and cover page templates into fax
pages. It offers the Qt desktop program vexofax, the vexo command and the
line simulator vexo-linesim for trying it without a modem.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-dejavu-core, fonts-wqy-microhei, qt6-translations-l10n, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
