import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import KestroAgent

// The companion's one window, as its layout: the backdrop, a scrolling column with the header,
// the cards (two columns, the pairing page over the settings on the left and the runtime over the
// log on the right; one column where the window is narrow) and a footer, and the banner on top.
// Everything shown comes from the keeper through the link's small objects, each card binding to
// its own; every control asks the keeper. The keyboard reaches every control, and the control it
// focuses is scrolled into view.
ApplicationWindow {
    id: window
    required property AgentKeeperLink link
    readonly property bool twoColumns: width >= 2 * Theme.minimumColumnWidth + Theme.columnSpacing
                                              + 2 * Theme.windowPadding

    width: 1180
    height: 860
    // One card column of at least its minimum inside the window's padding.
    minimumWidth: Theme.minimumColumnWidth + 2 * Theme.windowPadding
    minimumHeight: 400
    title: "kestro Agent"
    color: Theme.windowFill

    // Scrolls the window so that `item`, when it is in the scrolling content, is in view with a
    // margin around it.
    function reveal(item: Item) {
        const flickable = scroller.contentItem as Flickable
        let inside = item
        while (inside && inside !== flickable.contentItem)
            inside = inside.parent
        if (!inside)
            return
        const top = item.mapToItem(flickable.contentItem, 0, 0).y - Theme.revealMargin
        const bottom = top + item.height + 2 * Theme.revealMargin
        const end = Math.max(0, flickable.contentHeight - flickable.height)
        if (top < flickable.contentY)
            flickable.contentY = Math.max(0, top)
        else if (bottom > flickable.contentY + flickable.height)
            flickable.contentY = Math.min(end, Math.max(top, bottom - flickable.height))
    }

    // What the control a message offers does for the setting `field`.
    function fixSetting(field: string) {
        if (field === "workingDirectory")
            openFolderDialog()
        else if (field === "codexPath")
            openCodexDialog()
        else
            configurationCard.focusField(field)
    }
    function openFolderDialog() {
        folderDialog.currentFolder = window.link.settings.workingDirectoryURL
        folderDialog.open()
    }
    function openCodexDialog() {
        codexDialog.currentFolder = window.link.settings.codexFolderURL
        codexDialog.open()
    }

    onActiveFocusItemChanged: if (activeFocusItem) reveal(activeFocusItem)

    Shortcut {
        objectName: "quitShortcut"
        sequence: "Ctrl+Q"
        onActivated: window.link.quit()
    }
    Shortcut {
        objectName: "closeShortcut"
        sequence: "Ctrl+W"
        onActivated: window.close()
    }
    // Esc while typing in a field is not a request to close.
    Shortcut {
        sequence: "Escape"
        enabled: !(window.activeFocusItem instanceof TextInput)
        onActivated: window.close()
    }
    Shortcut {
        sequence: "F1"
        onActivated: about.open()
    }

    Backdrop {
        anchors.fill: parent
    }

    ScrollView {
        id: scroller
        objectName: "windowScroller"
        anchors.fill: parent
        contentWidth: availableWidth
        // The content and the window's padding at both ends.
        contentHeight: content.implicitHeight + 2 * Theme.windowPadding

        ColumnLayout {
            id: content
            x: Theme.windowPadding
            y: Theme.windowPadding
            width: scroller.availableWidth - 2 * Theme.windowPadding
            spacing: Theme.sectionSpacing

            WindowHeader {
                id: header
                Layout.fillWidth: true
                runtime: window.link.runtime
                narrow: !window.twoColumns
            }

            GridLayout {
                columns: window.twoColumns ? 2 : 1
                columnSpacing: Theme.columnSpacing
                rowSpacing: Theme.cardSpacing
                Layout.fillWidth: true

                ColumnLayout {
                    spacing: Theme.cardSpacing
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    Layout.minimumWidth: Theme.minimumColumnWidth
                    Layout.preferredWidth: Theme.minimumColumnWidth

                    // First, so that the whole QR code is in view at the default size.
                    PairingCard {
                        Layout.fillWidth: true
                        runtime: window.link.runtime
                        scroller: scroller.contentItem as Flickable
                        room: scroller.height - 2 * Theme.windowPadding - header.height - Theme.sectionSpacing
                        onFixSetting: field => window.fixSetting(field)
                    }
                    ConfigurationCard {
                        id: configurationCard
                        Layout.fillWidth: true
                        settings: window.link.settings
                        token: window.link.token
                        desktop: window.link.desktop
                        onChooseFolder: window.openFolderDialog()
                        onChooseCodexProgram: window.openCodexDialog()
                        onFixSetting: field => window.fixSetting(field)
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
                        onChooseCodexProgram: window.openCodexDialog()
                    }
                    SessionLogCard {
                        Layout.fillWidth: true
                        log: window.link.log
                    }
                }
            }

            RowLayout {
                objectName: "footer"
                spacing: 16
                Layout.fillWidth: true
                SecondaryAgentButton {
                    objectName: "aboutButton"
                    text: "About kestro Agent"
                    description: "The version and the licence."
                    onClicked: about.open()
                }
                Text {
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    text: "F1 About · Ctrl+W or Esc " + (window.link.desktop.hasTray
                              ? "closes the window; the bridge keeps serving from the tray"
                              : "closes kestro Agent") + " · Ctrl+Q quits kestro Agent"
                    color: Theme.help
                    font.pixelSize: Theme.helpSize
                    wrapMode: Text.Wrap
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
        }
    }

    Banner {
        anchors.horizontalCenter: parent.horizontalCenter
        message: window.link.bannerMessage
    }

    AboutDialog {
        id: about
    }

    FolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        title: "Choose the workspace"
        onAccepted: window.link.settings.chooseWorkspace(selectedFolder)
    }

    FileDialog {
        id: codexDialog
        objectName: "codexDialog"
        title: "Choose the Codex program"
        fileMode: FileDialog.OpenFile
        onAccepted: window.link.settings.chooseCodexProgram(selectedFile)
    }
}
