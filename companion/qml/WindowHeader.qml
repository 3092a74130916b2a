import QtQuick
import QtQuick.Layouts
import KestroAgent

// The window's head: the logo tile, the title and tagline over the status badge and the
// machine summary, and the Restart and Start (or Stop) buttons.
RowLayout {
    id: header
    required property AgentViewModel viewModel

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
            source: "KestroMark.png"
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
            text: header.viewModel.texts.tagline
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
                text: header.viewModel.statusText
                tint: Theme.stateColor(header.viewModel.runtimeState)
            }
            Text {
                objectName: "machineSummary"
                text: header.viewModel.machineSummary
                color: Theme.summary
                font.pixelSize: Theme.labelSize
                font.weight: Font.DemiBold
            }
        }
    }
    SecondaryAgentButton {
        objectName: "restartButton"
        text: "Restart"
        enabled: header.viewModel.canRestart
        onClicked: header.viewModel.restart()
    }
    PrimaryAgentButton {
        objectName: "startButton"
        text: "Start"
        visible: !header.viewModel.showsStop
        enabled: header.viewModel.canStart
        onClicked: header.viewModel.start()
    }
    SecondaryAgentButton {
        objectName: "stopButton"
        text: "Stop"
        visible: header.viewModel.showsStop
        onClicked: header.viewModel.stop()
    }
}
