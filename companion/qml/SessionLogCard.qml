pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The session log: the latest lines, oldest first, each selectable.
AgentCard {
    id: card
    objectName: "logCard"
    required property AgentLogMirror log

    SectionTitle {
        width: parent.width
        eyebrow: "Session log"
        title: "Readable output from the bundled runtime."
    }
    ListView {
        id: logView
        objectName: "logView"
        // While the reader is at the end, the newest line is followed; a reader who scrolled away
        // (flicked, dragged, turned the wheel or moved the scroll bar) stays where they are.
        property bool following: true

        width: parent.width
        height: Theme.logHeight
        clip: true
        spacing: 10
        model: card.log.lines
        ScrollBar.vertical: ScrollBar {
            onPressedChanged: logView.following = !pressed && logView.atYEnd
        }
        function followEnd() {
            if (following)
                positionViewAtEnd()
        }
        onMovementStarted: following = false
        onMovementEnded: following = atYEnd
        // New rows, and rows laid out at their real height.
        onCountChanged: followEnd()
        onContentHeightChanged: followEnd()
        delegate: Rectangle {
            id: row
            required property string line
            width: logView.width
            implicitHeight: lineText.implicitHeight + 20
            radius: Theme.logRowRadius
            color: Theme.rowFill
            TextEdit {
                id: lineText
                objectName: "line"
                x: 14
                y: 10
                width: parent.width - 28
                text: row.line
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.Wrap
                color: Theme.logText
                font.pointSize: Theme.points(Theme.logSize, Screen.logicalPixelDensity)
                font.weight: Font.Medium
            }
        }
    }
}
