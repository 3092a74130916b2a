import QtQuick
import KestroAgent

// A label over its value in a rounded box; the value can be selected and copied. Screen readers
// read the row as its label and value.
Rectangle {
    id: row
    property string label
    property string value

    implicitHeight: content.implicitHeight + 2 * Theme.rowPadding
    radius: Theme.rowRadius
    color: Theme.rowFill
    border.color: Theme.hairline
    border.width: 1

    Column {
        id: content
        x: Theme.rowPadding
        y: Theme.rowPadding
        width: row.width - 2 * Theme.rowPadding
        spacing: 8
        Text {
            textFormat: Text.PlainText
            text: row.label.toUpperCase()
            color: Theme.rowLabel
            font.pixelSize: Theme.eyebrowSize
            font.bold: true
            font.letterSpacing: Theme.rowLabelSpacing
        }
        TextEdit {
            textFormat: TextEdit.PlainText
            objectName: "value"
            width: parent.width
            text: row.value
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.Wrap
            color: Theme.text
            font.pixelSize: Theme.bodySize
            font.weight: Font.DemiBold
            Accessible.role: Accessible.StaticText
            Accessible.name: row.label + ": " + row.value
        }
    }
}
