# `make package`: two Debian packages, the desktop program and the relay
# server, from the install rules' components. Library dependencies come from
# dpkg-shlibdeps; the rest are plugins and services Qt loads at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tindrel)
set(CPACK_PACKAGE_VENDOR Tindrel)
set(CPACK_PACKAGE_CONTACT "Tindrel <dev@tindrel.io>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tindrel.io/)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL tindrel relay)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)

set(CPACK_DEBIAN_TINDREL_PACKAGE_NAME tindrel)
# CPack indents the long description's lines itself.
set(CPACK_COMPONENT_TINDREL_DESCRIPTION
    "Clipboard history with pins, search and encrypted sync\nTindrel lives in the system tray, records the texts you copy, keeps pinned\nclips and opens a searchable panel on a global shortcut.")
# The X11 platform plugin ships with Qt's GUI library; SVG icons need the
# SVG image plugin; peers are found through avahi-daemon; a Wayland session
# without XWayland needs Qt's Wayland platform plugin.
set(CPACK_DEBIAN_TINDREL_PACKAGE_DEPENDS "libqt6svg6, dbus-user-session | dbus-x11")
set(CPACK_DEBIAN_TINDREL_PACKAGE_RECOMMENDS "avahi-daemon, qt6-wayland")

set(CPACK_DEBIAN_RELAY_PACKAGE_NAME tindrel-relay)
set(CPACK_DEBIAN_RELAY_PACKAGE_SECTION net)
set(CPACK_COMPONENT_RELAY_DESCRIPTION
    "WebSocket relay for Tindrel sync\nForwards sealed messages between Tindrel devices that cannot reach each\nother directly. Runs as the tindrel-relay systemd service.")
# The service's user comes from adduser; deb-systemd-helper, which enables
# and starts the unit, is in an essential package.
set(CPACK_DEBIAN_RELAY_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_RELAY_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_LIST_DIR}/relay/postinst;${CMAKE_CURRENT_LIST_DIR}/relay/prerm;${CMAKE_CURRENT_LIST_DIR}/relay/postrm")
set(CPACK_DEBIAN_RELAY_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
