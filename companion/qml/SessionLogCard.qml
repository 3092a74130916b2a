pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The session log: the latest lines, oldest first, each selectable.
AgentCard {
    id: card
    objectName: "logCard"
    required property AgentViewModel viewModel

    SectionTitle {
        width: parent.width
        eyebrow: "Session log"
        title: "Readable output from the bundled runtime."
    }
    ListView {
        id: log
        objectName: "logView"
        width: parent.width
        height: Theme.logHeight
        clip: true
        spacing: 10
        model: card.viewModel.logLines
        ScrollBar.vertical: ScrollBar {}
        // Follow the newest line while the reader is at the end.
        onCountChanged: positionViewAtEnd()
        delegate: Rectangle {
            id: row
            required property string modelData
            width: log.width
            implicitHeight: line.implicitHeight + 20
            radius: Theme.logRowRadius
            color: Theme.rowFill
            TextEdit {
                id: line
                x: 14
                y: 10
                width: parent.width - 28
                text: row.modelData
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.WrapAnywhere
                color: Theme.logText
                font.pixelSize: Theme.logSize
                font.weight: Font.Medium
            }
        }
    }
}
