import QtQuick
import QtQuick.Controls.Basic

// A secondary action: white bold label on a faint panel.
Button {
    id: button
    padding: 0
    leftPadding: 16
    rightPadding: 16
    topPadding: 11
    bottomPadding: 11
    scale: down ? 0.99 : 1.0
    opacity: enabled ? 1.0 : 0.45

    contentItem: Text {
        text: button.text
        color: "white"
        font.pixelSize: 13
        font.bold: true
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: height / 2
        color: Qt.rgba(1, 1, 1, button.down ? 0.10 : 0.06)
        border.color: Qt.rgba(1, 1, 1, 0.08)
        border.width: 1
    }
}
