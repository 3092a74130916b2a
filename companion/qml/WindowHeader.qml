import QtQuick
import QtQuick.Layouts
import KestroAgent

// The window's head: the logo tile, the title and tagline over the status badge and the
// machine summary, and the Restart and Start (or Stop) buttons, which go under the title where
// the window is narrow.
GridLayout {
    id: header
    required property AgentRuntimeMirror runtime
    // Too narrow for the buttons beside the title.
    property bool narrow: false

    columns: narrow ? 2 : 3
    columnSpacing: Theme.headerSpacing
    rowSpacing: 12

    Rectangle {
        Layout.preferredWidth: Theme.logoTileSize
        Layout.preferredHeight: Theme.logoTileSize
        Layout.alignment: Qt.AlignTop
        radius: Theme.cardRadius
        color: Theme.logoTile
        border.color: Theme.hairline
        border.width: 1
        Image {
            anchors.centerIn: parent
            width: 64
            height: 64
            source: Theme.mark
            sourceSize.width: 128
            sourceSize.height: 128
            smooth: true
        }
    }
    ColumnLayout {
        spacing: 10
        Layout.fillWidth: true
        Text {
            textFormat: Text.PlainText
            text: "kestro Agent"
            color: Theme.text
            font.pixelSize: Theme.titleSize
            font.bold: true
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Text {
            textFormat: Text.PlainText
            text: AgentTexts.tagline
            color: Theme.tagline
            font.pixelSize: Theme.bodySize
            font.weight: Font.Medium
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Flow {
            spacing: 12
            Layout.fillWidth: true
            StatusBadge {
                id: badge
                objectName: "statusBadge"
                text: header.runtime.statusText
                tint: header.runtime.stateColor
            }
            Text {
                textFormat: Text.PlainText
                objectName: "machineSummary"
                height: badge.height
                verticalAlignment: Text.AlignVCenter
                text: header.runtime.machineSummary
                color: Theme.summary
                font.pixelSize: Theme.labelSize
                font.weight: Font.DemiBold
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }
    }
    RowLayout {
        spacing: 12
        Layout.columnSpan: header.narrow ? 2 : 1
        Layout.alignment: header.narrow ? Qt.AlignLeft : Qt.AlignVCenter | Qt.AlignRight
        SecondaryAgentButton {
            objectName: "restartButton"
            text: "Restart"
            description: "Stops the bridge and starts it again with the settings below."
            enabled: header.runtime.canRestart
            onClicked: header.runtime.restart()
        }
        PrimaryAgentButton {
            objectName: "startButton"
            text: "Start"
            description: "Starts the bridge with the settings below."
            visible: !header.runtime.showsStop
            enabled: header.runtime.canStart
            onClicked: header.runtime.start()
        }
        SecondaryAgentButton {
            objectName: "stopButton"
            text: "Stop"
            description: "Stops the bridge: your phone cannot reach this computer until it starts again."
            visible: header.runtime.showsStop
            onClicked: header.runtime.stop()
        }
    }
}
