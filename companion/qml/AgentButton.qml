import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// What every button of the window shares: its padding and press, a place in the Tab order on
// every system, the focus ring, Return and Enter pressing it as Space does, and a description
// of what it does for screen readers.
Button {
    id: button
    property string description

    padding: 0
    leftPadding: 16
    rightPadding: 16
    topPadding: 11
    bottomPadding: 11
    scale: down ? 0.99 : 1.0
    focusPolicy: Qt.StrongFocus
    Accessible.description: description

    // Once per press: a held key does not repeat the action.
    Keys.onReturnPressed: event => { if (!event.isAutoRepeat) button.clicked() }
    Keys.onEnterPressed: event => { if (!event.isAutoRepeat) button.clicked() }

    FocusRing {
        shown: button.visualFocus
        targetRadius: button.height / 2
    }
}
