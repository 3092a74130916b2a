import QtQuick
import QtQuick.Controls.Basic

// A label over its value in a rounded box; the value can be selected and copied.
Rectangle {
    id: row
    property string label
    property string value

    implicitHeight: content.implicitHeight + 32
    radius: 16
    color: Qt.rgba(1, 1, 1, 0.04)
    border.color: Qt.rgba(1, 1, 1, 0.08)
    border.width: 1

    Column {
        id: content
        x: 16
        y: 16
        width: row.width - 32
        spacing: 8
        Text {
            text: row.label.toUpperCase()
            color: Qt.rgba(1, 1, 1, 0.45)
            font.pixelSize: 11
            font.bold: true
            font.letterSpacing: 1.3
        }
        TextEdit {
            objectName: "value"
            width: parent.width
            text: row.value
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.WrapAnywhere
            color: "white"
            font.pixelSize: 14
            font.weight: Font.DemiBold
        }
    }
}
