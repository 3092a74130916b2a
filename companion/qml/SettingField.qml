import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import KestroAgent

// One labelled setting: the label, a plain text field in a rounded box followed by any trailing
// controls (every row ends at the same right edge), and a help line under it. Screen readers
// hear the field by its label, and its help line as its description.
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
        textFormat: Text.PlainText
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
            Accessible.name: setting.label
            Accessible.description: setting.help
            // The field describes itself by its placeholder once a screen reader is about: the help
            // line, which says more, is put back.
            Accessible.onDescriptionChanged: {
                if (Accessible.description !== setting.help)
                    Accessible.description = Qt.binding(() => setting.help)
            }
            background: Rectangle {
                radius: Theme.fieldRadius
                color: Theme.fieldFill
                border.color: Theme.hairline
                border.width: 1
                FocusRing {
                    shown: field.activeFocus
                    targetRadius: Theme.fieldRadius
                }
            }
            onTextEdited: setting.edited(text)
        }
        // Only as wide as its controls: the field takes the rest of the row.
        RowLayout {
            id: trailingRow
            spacing: 10
            visible: children.length > 0
            Layout.fillWidth: false
        }
    }
    Text {
        textFormat: Text.PlainText
        objectName: "help"
        text: setting.help
        color: Theme.help
        font.pixelSize: Theme.helpSize
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
