import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import KestroAgent

// One labelled setting: the label, a plain text field in a rounded box (or any trailing
// controls), and a help line under it.
ColumnLayout {
    id: setting
    property string label
    property string help
    property alias text: field.text
    property alias placeholder: field.placeholderText
    property alias readOnly: field.readOnly
    property alias field: field
    default property alias trailing: trailingRow.data
    signal edited(string text)

    spacing: 8

    Text {
        text: setting.label
        color: Theme.fieldLabel
        font.pixelSize: Theme.labelSize
        font.bold: true
    }
    RowLayout {
        spacing: 10
        Layout.fillWidth: true
        TextField {
            id: field
            Layout.fillWidth: true
            leftPadding: 14
            rightPadding: 14
            topPadding: 12
            bottomPadding: 12
            color: Theme.text
            placeholderTextColor: Theme.placeholderText
            selectByMouse: true
            font.pixelSize: Theme.bodySize
            background: Rectangle {
                radius: Theme.fieldRadius
                color: Theme.fieldFill
                border.color: Theme.hairline
                border.width: 1
            }
            onTextEdited: setting.edited(text)
        }
        RowLayout {
            id: trailingRow
            spacing: 10
        }
    }
    Text {
        objectName: "help"
        text: setting.help
        color: Theme.help
        font.pixelSize: Theme.helpSize
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
