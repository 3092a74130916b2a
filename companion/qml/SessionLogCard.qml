pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The session log: the latest lines, oldest first, each selectable. It is a list that screen
// readers walk line by line, and a stop of the keyboard's: the arrows move a line at a time (the
// line marked and read out), Page Up and Down scroll, Home and End go to the first and last line.
AgentCard {
    id: card
    objectName: "logCard"
    required property AgentLogMirror log

    SectionTitle {
        width: parent.width
        eyebrow: "Session log"
        title: "Readable output from the bundled runtime."
    }
    Item {
        width: parent.width
        height: Theme.logHeight
        FocusRing {
            shown: logView.activeFocus
            targetRadius: Theme.logRowRadius
        }
        ListView {
            id: logView
            objectName: "logView"
            // While the reader is at the end, the newest line is followed; a reader who scrolled
            // away (flicked, dragged, turned the wheel, moved the scroll bar or used the keys)
            // stays where they are.
            property bool following: true

            anchors.fill: parent
            clip: true
            spacing: 10
            model: card.log.lines
            activeFocusOnTab: true
            // The keys move `readIndex`, not the current row (a current row would take the focus).
            keyNavigationEnabled: false
            currentIndex: -1
            // The line the reader is on while the log has the focus.
            property int readIndex: -1
            Accessible.role: Accessible.List
            Accessible.name: "Session log"
            ScrollBar.vertical: ScrollBar {
                onPressedChanged: logView.following = !pressed && logView.atYEnd
            }
            function followEnd() {
                if (following)
                    positionViewAtEnd()
            }
            // Scrolls by `delta` pixels within the content, as a key asks.
            function scrollBy(delta: real) {
                const top = originY
                const end = Math.max(top, top + contentHeight - height)
                contentY = Math.min(end, Math.max(top, contentY + delta))
                following = atYEnd
            }
            // Moves the reader to line `index` (clamped), kept in sight.
            function readAt(index: int) {
                if (count === 0)
                    return
                readIndex = Math.max(0, Math.min(count - 1, index))
                positionViewAtIndex(readIndex, ListView.Contain)
                following = atYEnd
            }
            // Scrolls a page up (-1) or down (1); the reader goes to the line then at the top or
            // the bottom of the view.
            function readPage(direction: int) {
                scrollBy(direction * height)
                const index = indexAt(width / 2, direction < 0 ? contentY + 1 : contentY + height - 1)
                if (index >= 0)
                    readIndex = index
            }
            // Focus arriving starts the reader at the last line in sight.
            onActiveFocusChanged: {
                if (!activeFocus || (readIndex >= 0 && readIndex < count))
                    return
                const shown = indexAt(width / 2, contentY + height - 1)
                readAt(shown >= 0 ? shown : count - 1)
            }
            Keys.onUpPressed: readAt(readIndex - 1)
            Keys.onDownPressed: readAt(readIndex + 1)
            Keys.onPressed: event => {
                if (event.key === Qt.Key_PageUp)
                    readPage(-1)
                else if (event.key === Qt.Key_PageDown)
                    readPage(1)
                else if (event.key === Qt.Key_Home)
                    readAt(0)
                else if (event.key === Qt.Key_End)
                    readAt(count - 1)
                else
                    return
                event.accepted = true
            }
            onMovementStarted: following = false
            onMovementEnded: following = atYEnd
            // New rows, and rows laid out at their real height.
            onCountChanged: followEnd()
            onContentHeightChanged: followEnd()
            delegate: Rectangle {
                id: row
                required property string line
                required property int index
                // The line the keyboard reader is on: marked, and focused for screen readers.
                readonly property bool reading: logView.activeFocus && index === logView.readIndex
                width: logView.width
                implicitHeight: lineText.implicitHeight + 20
                radius: Theme.logRowRadius
                color: Theme.rowFill
                border.color: Theme.focusRing
                border.width: reading ? Theme.focusRingWidth : 0
                Accessible.role: Accessible.ListItem
                Accessible.name: line
                Accessible.focusable: true
                Accessible.focused: reading
                TextEdit {
                    textFormat: TextEdit.PlainText
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
}
