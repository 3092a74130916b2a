import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

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
        color: Qt.rgba(1, 1, 1, 0.72)
        font.pixelSize: 13
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
            color: "white"
            placeholderTextColor: Qt.rgba(1, 1, 1, 0.32)
            selectByMouse: true
            font.pixelSize: 14
            background: Rectangle {
                radius: 16
                color: Qt.rgba(1, 1, 1, 0.05)
                border.color: Qt.rgba(1, 1, 1, 0.08)
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
        text: setting.help
        color: Qt.rgba(1, 1, 1, 0.46)
        font.pixelSize: 12
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
