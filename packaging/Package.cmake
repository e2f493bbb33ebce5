# `make package`: a Debian package of what the install rules put in place.
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR "Kestrune developers")
set(CPACK_PACKAGE_CONTACT "Kestrune developers <kestrune@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "debug serial, UDP and TCP links byte by byte")
set(CPACK_PACKAGE_DESCRIPTION
  "Kestrune talks to a device or another program over a serial port, a UDP socket, a TCP server or a TCP client. Data is typed as hex, characters or characters with hex escapes, framed with a lead, a tail and a check, sent once, periodically or from a command list, logged, and relayed between a main channel and relay channels.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
# dpkg-shlibdeps adds the libraries the program links (Qt 6, libudev, the C++
# runtime) with their versions; Qt's platform plugins are loaded at run time, so
# they are named here. The SVG engine draws the window icon, the Wayland plugin
# runs the program without XWayland. The Chinese hints and East Asian text need a
# font that has them; Debian's default fonts do not.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, qt6-wayland")

# Installing or packaging builds only the program, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
