import QtQuick
import KestroAgent

// A short message at the top of the window while `message` is not empty: it slides in from the
// top edge and fades, and leaves the same way. Screen readers meet it as an alert.
Rectangle {
    id: banner
    objectName: "banner"
    property string message
    readonly property bool shown: message !== ""
    property string lastText

    y: shown ? Theme.bannerTop : -height - 8
    opacity: shown ? 1 : 0
    width: bannerText.implicitWidth + 32
    height: bannerText.implicitHeight + 20
    radius: height / 2
    gradient: Gradient {
        orientation: Gradient.Horizontal
        GradientStop { position: 0; color: Theme.accentStart }
        GradientStop { position: 1; color: Theme.accentEnd }
    }
    visible: opacity > 0
    Accessible.role: Accessible.AlertMessage
    Accessible.name: shown ? message : ""
    Behavior on y { NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
    Behavior on opacity { NumberAnimation { duration: 220 } }

    Text {
        textFormat: Text.PlainText
        id: bannerText
        anchors.centerIn: parent
        // Keeps the last text while it leaves.
        text: banner.shown ? banner.message : banner.lastText
        onTextChanged: if (banner.shown) banner.lastText = text
        color: Theme.textOnAccent
        font.pixelSize: Theme.labelSize
        font.bold: true
    }
}
