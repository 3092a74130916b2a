import QtQuick
import QtQuick.Layouts
import KestroAgent

// The window's head: the logo tile, the title and tagline over the status badge and the
// machine summary, and the Restart and Start (or Stop) buttons.
RowLayout {
    id: header
    required property AgentRuntimeMirror runtime

    spacing: Theme.headerSpacing

    Rectangle {
        Layout.preferredWidth: Theme.logoTileSize
        Layout.preferredHeight: Theme.logoTileSize
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
            text: "kestro Agent"
            color: Theme.text
            font.pixelSize: Theme.titleSize
            font.bold: true
        }
        Text {
            text: AgentTexts.tagline
            color: Theme.tagline
            font.pixelSize: Theme.bodySize
            font.weight: Font.Medium
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        RowLayout {
            spacing: 12
            StatusBadge {
                objectName: "statusBadge"
                text: header.runtime.statusText
                tint: header.runtime.stateColor
            }
            Text {
                objectName: "machineSummary"
                text: header.runtime.machineSummary
                color: Theme.summary
                font.pixelSize: Theme.labelSize
                font.weight: Font.DemiBold
            }
        }
    }
    SecondaryAgentButton {
        objectName: "restartButton"
        text: "Restart"
        enabled: header.runtime.canRestart
        onClicked: header.runtime.restart()
    }
    PrimaryAgentButton {
        objectName: "startButton"
        text: "Start"
        visible: !header.runtime.showsStop
        enabled: header.runtime.canStart
        onClicked: header.runtime.start()
    }
    SecondaryAgentButton {
        objectName: "stopButton"
        text: "Stop"
        visible: header.runtime.showsStop
        onClicked: header.runtime.stop()
    }
}
