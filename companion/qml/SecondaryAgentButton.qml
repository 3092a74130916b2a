import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// A secondary action: white bold label on a faint panel.
Button {
    id: button
    padding: 0
    leftPadding: 16
    rightPadding: 16
    topPadding: 11
    bottomPadding: 11
    scale: down ? 0.99 : 1.0
    opacity: enabled ? 1.0 : Theme.disabledOpacity

    contentItem: Text {
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
