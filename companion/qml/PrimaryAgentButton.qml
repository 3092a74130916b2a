import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The primary action: dark bold label on the blue-to-mint gradient.
Button {
    id: button
    padding: 0
    leftPadding: 16
    rightPadding: 16
    topPadding: 11
    bottomPadding: 11
    scale: down ? 0.99 : 1.0
    opacity: enabled ? (down ? 0.92 : 1.0) : Theme.disabledOpacity

    contentItem: Text {
        text: button.text
        color: Theme.textOnAccent
        font.pixelSize: Theme.labelSize
        font.bold: true
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: height / 2
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Theme.accentStart }
            GradientStop { position: 1; color: Theme.accentEnd }
        }
    }
}
