import QtQuick
import KestroAgent

// The runtime's state as a coloured capsule; screen readers hear "Bridge status: " and the state.
Rectangle {
    id: badge
    property string text
    property color tint

    implicitWidth: label.implicitWidth + 24
    implicitHeight: label.implicitHeight + 14
    radius: height / 2
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.12)
    border.color: Qt.rgba(tint.r, tint.g, tint.b, 0.24)
    border.width: 1
    Accessible.role: Accessible.StaticText
    Accessible.name: "Bridge status: " + text

    Text {
        textFormat: Text.PlainText
        id: label
        anchors.centerIn: parent
        text: badge.text
        color: badge.tint
        font.pixelSize: Theme.badgeSize
        font.bold: true
    }
}
