import QtQuick
import KestroAgent

// The primary action: dark bold label on the blue-to-mint gradient.
AgentButton {
    id: button
    opacity: enabled ? (down ? 0.92 : 1.0) : Theme.disabledOpacity

    contentItem: Text {
        textFormat: Text.PlainText
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
