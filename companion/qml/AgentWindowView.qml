import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import KestroAgent

// The companion's one window, as its layout: the backdrop, a scrolling column with the header
// and two columns of cards (the pairing page over the settings on the left, the runtime over the
// log on the right), and the banner on top. Everything shown comes from the keeper through the
// link's small objects, each card binding to its own; every control asks the keeper.
ApplicationWindow {
    id: window
    required property AgentKeeperLink link

    width: 1180
    height: 860
    // Two card columns of at least their minimum, side by side, inside the window's padding.
    minimumWidth: 2 * Theme.minimumColumnWidth + Theme.columnSpacing + 2 * Theme.windowPadding
    minimumHeight: 520
    title: "kestro Agent"
    color: Theme.windowFill

    Backdrop {
        anchors.fill: parent
    }

    ScrollView {
        id: scroller
        objectName: "windowScroller"
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            x: Theme.windowPadding
            y: Theme.windowPadding
            width: scroller.availableWidth - 2 * Theme.windowPadding
            spacing: Theme.sectionSpacing

            WindowHeader {
                Layout.fillWidth: true
                runtime: window.link.runtime
            }

            RowLayout {
                spacing: Theme.columnSpacing
                Layout.fillWidth: true

                ColumnLayout {
                    spacing: Theme.cardSpacing
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    Layout.minimumWidth: Theme.minimumColumnWidth
                    Layout.preferredWidth: Theme.minimumColumnWidth

                    // First on the left, so that the whole QR code is in view at the default size.
                    PairingCard {
                        Layout.fillWidth: true
                        runtime: window.link.runtime
                        scroller: scroller.contentItem as Flickable
                    }
                    ConfigurationCard {
                        Layout.fillWidth: true
                        settings: window.link.settings
                        token: window.link.token
                        desktop: window.link.desktop
                        onChooseFolder: {
                            folderDialog.currentFolder = window.link.settings.workingDirectoryURL
                            folderDialog.open()
                        }
                    }
                }

                ColumnLayout {
                    spacing: Theme.cardSpacing
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    Layout.minimumWidth: Theme.minimumColumnWidth
                    Layout.preferredWidth: Theme.minimumColumnWidth

                    RuntimeCard {
                        Layout.fillWidth: true
                        runtime: window.link.runtime
                    }
                    SessionLogCard {
                        Layout.fillWidth: true
                        log: window.link.log
                    }
                }
            }
            Item {
                Layout.preferredHeight: 0
            }
        }
    }

    Banner {
        anchors.horizontalCenter: parent.horizontalCenter
        message: window.link.bannerMessage
    }

    FolderDialog {
        id: folderDialog
        title: "Choose the workspace"
        onAccepted: window.link.settings.chooseWorkspace(selectedFolder)
    }
}
