# Debian packages (scripts/package): "kestro-agent" of the runtime component and
# "kestro-agent-companion" of the companion component (cmake/Install.cmake). Their libraries come
# from dpkg-shlibdeps; what no library scan sees is listed here: the programs the runtime runs and
# the QML modules the companion imports.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestro-agent)
set(CPACK_PACKAGE_VENDOR brantel)
set(CPACK_PACKAGE_CONTACT "${KESTRO_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The install runs with the real prefix (and the staging folder as DESTDIR), so that the user
# service names /usr/bin/kestro-agent.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
if(TARGET kestro-agent-companion)
  list(APPEND CPACK_COMPONENTS_ALL companion)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME kestro-agent)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "git, sqlite3")
# grim: the desktop picture on wlroots desktops (sway, Hyprland, labwc), where the runtime runs it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "xdg-utils, grim")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "drive the Codex coding agent on this computer from a phone
The kestro Agent runtime is a small HTTP server that the kestro phone app
pairs with by scanning a QR code. It reports the machine and its Codex
setup, lists projects and threads, reads git status, creates worktrees,
takes screenshots and runs prompts through the Codex CLI, streaming each
run back to the phone.
.
This package holds the runtime, /usr/bin/kestro-agent, and a systemd user
service that runs it on a computer without a desktop.")

set(CPACK_DEBIAN_COMPANION_PACKAGE_NAME kestro-agent-companion)
set(CPACK_DEBIAN_COMPANION_PACKAGE_SECTION x11)
# The QML modules the window imports (the keeper loads none). QtQuick.Controls.Basic loads
# QtQuick.Templates, and QtQml loads QtQml.WorkerScript, though neither package depends on the
# other; the folder and file dialogs drawn by Qt itself (on a desktop without a platform theme)
# import Qt.labs.folderlistmodel.
set(companion_depends
    "kestro-agent (= ${PROJECT_VERSION})" qml6-module-qtqml qml6-module-qtqml-workerscript
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel qml6-module-qtquick-layouts
    qml6-module-qtwebengine)
list(JOIN companion_depends ", " CPACK_DEBIAN_COMPANION_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_COMPANION_PACKAGE_RECOMMENDS gnome-keyring)
set(CPACK_COMPONENT_COMPANION_DESCRIPTION
    "desktop companion of the kestro Agent runtime
kestro Agent keeps the runtime's launch settings and its pairing token (in
the desktop's secret store), starts and supervises the runtime from the
tray, and shows its pairing page, its state and a session log in a window
it starts on demand.")

include(CPack)
