import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts

// The companion's one window. Everything shown comes from the view model; every control calls
// one of its operations.
ApplicationWindow {
    id: window
    required property var viewModel

    width: 1180
    height: 860
    // Two card columns of at least 420, 22 apart, inside 24 of padding on each side.
    minimumWidth: 2 * 420 + 22 + 2 * 24
    minimumHeight: 520
    visible: true
    title: "kestro Agent"
    color: "#080a14"

    // Top-leading to bottom-trailing: a vertical gradient turned a quarter-half about the centre.
    Item {
        anchors.fill: parent
        clip: true
        Rectangle {
            readonly property real diagonal: Math.sqrt(parent.width * parent.width + parent.height * parent.height)
            width: diagonal
            height: diagonal
            anchors.centerIn: parent
            rotation: -45
            gradient: Gradient {
                GradientStop { position: 0.0; color: Qt.rgba(0.03, 0.04, 0.08, 1) }
                GradientStop { position: 0.5; color: Qt.rgba(0.04, 0.07, 0.11, 1) }
                GradientStop { position: 1.0; color: Qt.rgba(0.03, 0.03, 0.05, 1) }
            }
        }
    }

    ScrollView {
        id: scroller
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            id: content
            x: 24
            y: 24
            width: scroller.availableWidth - 48
            spacing: 24

            // Header -----------------------------------------------------------------------------
            RowLayout {
                spacing: 20
                Layout.fillWidth: true

                Rectangle {
                    Layout.preferredWidth: 94
                    Layout.preferredHeight: 94
                    radius: 28
                    color: Qt.rgba(0, 0, 0, 0.45)
                    border.color: Qt.rgba(1, 1, 1, 0.08)
                    border.width: 1
                    Image {
                        anchors.centerIn: parent
                        width: 64
                        height: 64
                        source: "KestroMark.png"
                        sourceSize: Qt.size(128, 128)
                        smooth: true
                    }
                }
                ColumnLayout {
                    spacing: 10
                    Layout.fillWidth: true
                    Text {
                        text: "kestro Agent"
                        color: "white"
                        font.pixelSize: 32
                        font.bold: true
                    }
                    Text {
                        text: "Starts your local Codex runtime, publishes a private pairing page, and keeps your phone connected to the Mac that already owns the work."
                        color: Qt.rgba(1, 1, 1, 0.72)
                        font.pixelSize: 14
                        font.weight: Font.Medium
                        wrapMode: Text.Wrap
                        Layout.fillWidth: true
                    }
                    RowLayout {
                        spacing: 12
                        StatusBadge {
                            objectName: "statusBadge"
                            text: window.viewModel.statusText
                            tint: window.viewModel.statusColor
                        }
                        Text {
                            objectName: "machineSummary"
                            text: window.viewModel.machineSummary
                            color: Qt.rgba(1, 1, 1, 0.68)
                            font.pixelSize: 13
                            font.weight: Font.DemiBold
                        }
                    }
                }
                SecondaryAgentButton {
                    objectName: "restartButton"
                    text: "Restart"
                    enabled: window.viewModel.canRestart
                    onClicked: window.viewModel.restart()
                }
                PrimaryAgentButton {
                    objectName: "startButton"
                    text: "Start"
                    visible: !window.viewModel.showsStop
                    enabled: window.viewModel.canStart
                    onClicked: window.viewModel.start()
                }
                SecondaryAgentButton {
                    objectName: "stopButton"
                    text: "Stop"
                    visible: window.viewModel.showsStop
                    onClicked: window.viewModel.stop()
                }
            }

            // Cards ------------------------------------------------------------------------------
            RowLayout {
                spacing: 22
                Layout.fillWidth: true

                ColumnLayout {
                    spacing: 18
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    Layout.minimumWidth: 420
                    Layout.preferredWidth: 420

                    AgentCard {
                        objectName: "configurationCard"
                        Layout.fillWidth: true

                        SectionTitle {
                            width: parent.width
                            eyebrow: "Configuration"
                            title: "Set the Mac-side defaults once."
                        }
                        SettingField {
                            objectName: "workspaceField"
                            width: parent.width
                            label: "Workspace"
                            placeholder: "/Users/you/Projects/Repo"
                            help: "The project or root folder kestro should use first."
                            text: window.viewModel.workingDirectory
                            onEdited: text => window.viewModel.workingDirectory = text
                            SecondaryAgentButton {
                                text: "Choose folder"
                                onClicked: {
                                    folderDialog.currentFolder = window.viewModel.workingDirectoryURL
                                    folderDialog.open()
                                }
                            }
                        }
                        SettingField {
                            objectName: "machineNameField"
                            width: parent.width
                            label: "Machine name"
                            placeholder: "kestro Mac"
                            help: "What your phone should call this Mac."
                            text: window.viewModel.machineName
                            onEdited: text => window.viewModel.machineName = text
                        }
                        SettingField {
                            width: parent.width
                            label: "Advertised host"
                            placeholder: "100.x.x.x or tailnet name"
                            help: "Optional Tailscale IP or hostname."
                            text: window.viewModel.advertisedHost
                            onEdited: text => window.viewModel.advertisedHost = text
                        }
                        SettingField {
                            width: parent.width
                            label: "Bind host"
                            placeholder: "0.0.0.0"
                            help: "0.0.0.0 works for LAN or Tailscale."
                            text: window.viewModel.host
                            onEdited: text => window.viewModel.host = text
                        }
                        SettingField {
                            width: parent.width
                            label: "Port"
                            placeholder: "8787"
                            help: "Default: 8787"
                            text: window.viewModel.port
                            onEdited: text => window.viewModel.port = text
                        }
                        SettingField {
                            objectName: "tokenField"
                            width: parent.width
                            label: "Pair token"
                            help: "Stored in Keychain and reused across launches."
                            text: window.viewModel.maskedToken
                            readOnly: true
                            SecondaryAgentButton {
                                text: "Copy"
                                onClicked: window.viewModel.copyToken()
                            }
                            SecondaryAgentButton {
                                text: "Regenerate"
                                onClicked: window.viewModel.regenerateToken()
                            }
                        }
                        Row {
                            objectName: "validationWarning"
                            width: parent.width
                            spacing: 8
                            visible: window.viewModel.validationMessage !== ""
                            Text {
                                text: "\u26A0"
                                color: Qt.rgba(1.0, 0.78, 0.35, 1)
                                font.pixelSize: 15
                            }
                            Text {
                                objectName: "validationText"
                                width: parent.width - 30
                                text: window.viewModel.validationMessage
                                color: Qt.rgba(1.0, 0.78, 0.35, 1)
                                font.pixelSize: 13
                                font.bold: true
                                wrapMode: Text.Wrap
                            }
                        }
                    }

                    AgentCard {
                        objectName: "pairingCard"
                        Layout.fillWidth: true

                        RowLayout {
                            width: parent.width
                            SectionTitle {
                                Layout.fillWidth: true
                                eyebrow: "Pairing"
                                title: "Scan once, then just reopen the thread."
                            }
                            SecondaryAgentButton {
                                objectName: "openInBrowserButton"
                                text: "Open in browser"
                                enabled: window.viewModel.hasPairPage
                                onClicked: window.viewModel.openPairingPage()
                            }
                        }
                        Item {
                            width: parent.width
                            height: 460
                            // Rounded corners for whatever shows the page.
                            Rectangle {
                                id: pageFrame
                                anchors.fill: parent
                                radius: 22
                                color: Qt.rgba(1, 1, 1, 0.03)
                                clip: true
                                Loader {
                                    id: previewLoader
                                    objectName: "previewLoader"
                                    anchors.fill: parent
                                    active: window.viewModel.hasPairPage
                                    sourceComponent: PairPagePreview {
                                        id: preview
                                        objectName: "pairPagePreview"
                                        Component.onCompleted: show(window.viewModel.pairPageURL)
                                        Connections {
                                            target: window.viewModel
                                            function onPairPageURLChanged() {
                                                if (window.viewModel.hasPairPage)
                                                    preview.show(window.viewModel.pairPageURL)
                                            }
                                        }
                                    }
                                }
                                Column {
                                    objectName: "previewPlaceholder"
                                    visible: !window.viewModel.hasPairPage
                                    anchors.centerIn: parent
                                    width: parent.width - 64
                                    spacing: 14
                                    Rectangle {
                                        anchors.horizontalCenter: parent.horizontalCenter
                                        width: 126
                                        height: 126
                                        radius: 30
                                        color: Qt.rgba(0, 0, 0, 0.40)
                                        Image {
                                            anchors.centerIn: parent
                                            width: 86
                                            height: 86
                                            source: "KestroMark.png"
                                            sourceSize: Qt.size(172, 172)
                                        }
                                    }
                                    Text {
                                        width: parent.width
                                        horizontalAlignment: Text.AlignHCenter
                                        text: "The pairing page appears here as soon as the local bridge starts."
                                        color: "white"
                                        font.pixelSize: 15
                                        font.bold: true
                                        wrapMode: Text.Wrap
                                    }
                                    Text {
                                        width: parent.width
                                        horizontalAlignment: Text.AlignHCenter
                                        text: "The iPhone app does not need a terminal tutorial. It just needs a QR to scan and a Mac that stays reachable."
                                        color: Qt.rgba(1, 1, 1, 0.70)
                                        font.pixelSize: 14
                                        font.weight: Font.Medium
                                        wrapMode: Text.Wrap
                                    }
                                }
                            }
                        }
                    }
                }

                ColumnLayout {
                    spacing: 18
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    Layout.minimumWidth: 420
                    Layout.preferredWidth: 420

                    AgentCard {
                        objectName: "runtimeCard"
                        Layout.fillWidth: true

                        SectionTitle {
                            width: parent.width
                            eyebrow: "Runtime"
                            title: "What the bridge is doing right now."
                        }
                        RuntimeRow {
                            width: parent.width
                            label: "Codex"
                            value: window.viewModel.codexVersion
                        }
                        RuntimeRow {
                            width: parent.width
                            label: "Diagnostic"
                            value: window.viewModel.diagnostic
                        }
                        RuntimeRow {
                            objectName: "lastEventRow"
                            width: parent.width
                            label: "Last event"
                            value: window.viewModel.lastEvent
                        }
                        RuntimeRow {
                            objectName: "pairLinkRow"
                            width: parent.width
                            label: "Pair link"
                            value: window.viewModel.pairLinkText
                        }
                        Row {
                            spacing: 10
                            PrimaryAgentButton {
                                objectName: "copyPairLinkButton"
                                text: "Copy pair link"
                                enabled: window.viewModel.hasPairLink
                                onClicked: window.viewModel.copyPairLink()
                            }
                            SecondaryAgentButton {
                                objectName: "openPairingPageButton"
                                text: "Open pairing page"
                                enabled: window.viewModel.hasPairPage
                                onClicked: window.viewModel.openPairingPage()
                            }
                        }
                    }

                    AgentCard {
                        objectName: "logCard"
                        Layout.fillWidth: true

                        SectionTitle {
                            width: parent.width
                            eyebrow: "Session log"
                            title: "Readable output from the bundled runtime."
                        }
                        ListView {
                            id: log
                            objectName: "logView"
                            width: parent.width
                            height: 260
                            clip: true
                            spacing: 10
                            model: window.viewModel.logLines
                            ScrollBar.vertical: ScrollBar {}
                            // Follow the newest line while the reader is at the end.
                            onCountChanged: positionViewAtEnd()
                            delegate: Rectangle {
                                required property string modelData
                                width: log.width
                                implicitHeight: line.implicitHeight + 20
                                radius: 14
                                color: Qt.rgba(1, 1, 1, 0.04)
                                TextEdit {
                                    id: line
                                    x: 14
                                    y: 10
                                    width: parent.width - 28
                                    text: parent.modelData
                                    readOnly: true
                                    selectByMouse: true
                                    wrapMode: TextEdit.WrapAnywhere
                                    color: Qt.rgba(1, 1, 1, 0.80)
                                    font.pixelSize: 13
                                    font.weight: Font.Medium
                                }
                            }
                        }
                    }
                }
            }
            Item { Layout.preferredHeight: 0 }
        }
    }

    // The banner: slides in from the top edge and fades, and leaves the same way.
    Rectangle {
        id: banner
        objectName: "banner"
        readonly property bool shown: window.viewModel.bannerMessage !== ""
        property string lastText
        anchors.horizontalCenter: parent.horizontalCenter
        y: shown ? 18 : -height - 8
        opacity: shown ? 1 : 0
        width: bannerText.implicitWidth + 32
        height: bannerText.implicitHeight + 20
        radius: height / 2
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Qt.rgba(0.66, 0.78, 1.0, 1) }
            GradientStop { position: 1; color: Qt.rgba(0.49, 0.95, 0.83, 1) }
        }
        Behavior on y { NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
        Behavior on opacity { NumberAnimation { duration: 220 } }
        Text {
            id: bannerText
            anchors.centerIn: parent
            // Keeps the last text while it leaves.
            text: banner.shown ? window.viewModel.bannerMessage : banner.lastText
            onTextChanged: if (banner.shown) banner.lastText = text
            color: Qt.rgba(0, 0, 0, 0.82)
            font.pixelSize: 13
            font.bold: true
        }
    }

    FolderDialog {
        id: folderDialog
        title: "Choose the workspace"
        onAccepted: window.viewModel.chooseWorkspace(selectedFolder)
    }
}
