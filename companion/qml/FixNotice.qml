import QtQuick
import QtQuick.Layouts
import KestroAgent

// A failure the window shows: what happened and what to do, in the warning colour, with the
// control that does it. Screen readers meet it as an alert when it appears.
Rectangle {
    id: notice
    property string text
    // The control that does what the text says (FixAction): its label, or the setting it mends.
    property string actionText
    property string field
    property string actionDescription
    signal act()

    visible: text !== ""
    implicitHeight: content.implicitHeight + 2 * Theme.noticePadding
    radius: Theme.rowRadius
    color: Theme.warningFill
    border.color: Theme.warningBorder
    border.width: 1
    Accessible.role: Accessible.AlertMessage
    Accessible.name: text

    ColumnLayout {
        id: content
        x: Theme.noticePadding
        y: Theme.noticePadding
        width: notice.width - 2 * Theme.noticePadding
        spacing: 12
        RowLayout {
            spacing: 8
            Layout.fillWidth: true
            Text {
                textFormat: Text.PlainText
                Layout.alignment: Qt.AlignTop
                text: "\u26A0"
                color: Theme.warning
                font.pixelSize: Theme.warningIconSize
                Accessible.ignored: true
            }
            Text {
                textFormat: Text.PlainText
                objectName: "noticeText"
                Layout.fillWidth: true
                text: notice.text
                color: Theme.warning
                font.pixelSize: Theme.labelSize
                font.bold: true
                wrapMode: Text.Wrap
            }
        }
        FixAction {
            objectName: "noticeAction"
            label: notice.actionText
            field: notice.field
            description: notice.actionDescription
            onClicked: notice.act()
        }
    }
}
