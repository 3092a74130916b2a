import QtQuick
import KestroAgent

// A secondary action: white bold label on a faint panel.
AgentButton {
    id: button
    opacity: enabled ? 1.0 : Theme.disabledOpacity

    contentItem: Text {
        textFormat: Text.PlainText
        text: button.text
        color: Theme.text
        font.pixelSize: Theme.labelSize
        font.bold: true
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: height / 2
        color: button.down ? Theme.buttonFillPressed : Theme.buttonFill
        border.color: Theme.hairline
        border.width: 1
    }
}
