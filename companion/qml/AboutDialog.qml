import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import KestroAgent

// A small window-modal About: the name, the version and the licence. Escape or "Close" closes it.
Dialog {
    id: about
    objectName: "aboutDialog"

    title: "About kestro Agent"
    modal: true
    anchors.centerIn: parent
    width: Math.min(440, parent ? parent.width - 2 * Theme.windowPadding : 440)
    padding: Theme.cardPadding
    onOpened: closeButton.forceActiveFocus(Qt.TabFocusReason)

    background: Rectangle {
        radius: Theme.cardRadius
        color: Theme.cardBase
        border.color: Theme.hairline
        border.width: 1
    }
    header: Item {}

    ColumnLayout {
        width: about.availableWidth
        spacing: 12
        Image {
            Layout.preferredWidth: 64
            Layout.preferredHeight: 64
            source: Theme.mark
            sourceSize.width: 128
            sourceSize.height: 128
            Accessible.ignored: true
        }
        Text {
            textFormat: Text.PlainText
            text: "kestro Agent"
            color: Theme.text
            font.pixelSize: Theme.sectionTitleSize
            font.bold: true
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Text {
            textFormat: Text.PlainText
            objectName: "aboutVersion"
            text: "Version " + AgentTexts.version
            color: Theme.tagline
            font.pixelSize: Theme.bodySize
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Text {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            text: "Drives the Codex CLI on this computer from your phone."
            color: Theme.tagline
            font.pixelSize: Theme.bodySize
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Text {
            textFormat: Text.PlainText
            objectName: "aboutLicence"
            Layout.fillWidth: true
            text: "Licensed under the Apache License, Version 2.0 (Apache-2.0)."
            color: Theme.tagline
            font.pixelSize: Theme.bodySize
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        SecondaryAgentButton {
            id: closeButton
            Layout.alignment: Qt.AlignRight
            Layout.topMargin: 8
            text: "Close"
            onClicked: about.close()
        }
    }
}
