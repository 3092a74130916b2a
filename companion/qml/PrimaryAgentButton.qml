import QtQuick
import QtQuick.Controls.Basic

// The primary action: dark bold label on the blue-to-mint gradient.
Button {
    id: button
    padding: 0
    leftPadding: 16
    rightPadding: 16
    topPadding: 11
    bottomPadding: 11
    scale: down ? 0.99 : 1.0
    opacity: enabled ? (down ? 0.92 : 1.0) : 0.45

    contentItem: Text {
        text: button.text
        color: Qt.rgba(0, 0, 0, 0.82)
        font.pixelSize: 13
        font.bold: true
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: height / 2
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Qt.rgba(0.66, 0.78, 1.0, 1) }
            GradientStop { position: 1; color: Qt.rgba(0.49, 0.95, 0.83, 1) }
        }
    }
}
