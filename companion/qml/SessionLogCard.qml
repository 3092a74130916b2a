pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The session log: the latest lines, oldest first, each selectable. It is a list that screen
// readers walk line by line, and a stop of the keyboard's, where the arrows, Page Up and Down,
// Home and End scroll it.
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
            // The keys scroll the view itself: no row is current (one would take the focus).
            keyNavigationEnabled: false
            currentIndex: -1
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
            Keys.onUpPressed: scrollBy(-Theme.wheelLineHeight * 2)
            Keys.onDownPressed: scrollBy(Theme.wheelLineHeight * 2)
            Keys.onPressed: event => {
                if (event.key === Qt.Key_PageUp)
                    scrollBy(-height)
                else if (event.key === Qt.Key_PageDown)
                    scrollBy(height)
                else if (event.key === Qt.Key_Home)
                    scrollBy(-contentHeight)
                else if (event.key === Qt.Key_End)
                    scrollBy(contentHeight)
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
                width: logView.width
                implicitHeight: lineText.implicitHeight + 20
                radius: Theme.logRowRadius
                color: Theme.rowFill
                Accessible.role: Accessible.ListItem
                Accessible.name: line
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
}
