import QtQuick
import QtQuick.Layouts
import KestroAgent

// The pairing page to scan: a preview of the page's QR code (the QR image the runtime wrote until
// the web view has the page), as large as the room the window gives it allows, or a placeholder
// until there is one; dimmed, with why and what next, while the bridge is down. Where the next
// step is a setting's, its control is offered (`fixSetting`).
AgentCard {
    id: card
    objectName: "pairingCard"
    required property AgentRuntimeMirror runtime
    // The web view shows the page (the QR image may go).
    readonly property bool pagePainted: previewLoader.item !== null
                                        && (previewLoader.item as PairPagePreview).loaded
    // What the wheel over the preview scrolls: the window, not the page, whose QR code stays in
    // its frame.
    property Flickable scroller
    // The height the window has for this card in view: the preview shrinks (down to its least)
    // so that the whole card, its QR code with it, is in view.
    property real room: Infinity
    readonly property real previewHeight: Math.max(Theme.minimumPreviewHeight,
                                                   Math.min(Theme.previewHeight,
                                                            room - 2 * Theme.cardPadding - titleRow.height
                                                            - Theme.cardSpacing))
    // The next step asks to change the setting `field`.
    signal fixSetting(string field)

    // Scrolls the window as the wheel over the preview asks: by the wheel's pixels where it gives
    // them (a touchpad), else by the lines a notch scrolls; within the window's content.
    function scrollWindow(wheel: WheelEvent) {
        const flickable = scroller
        const lines = wheel.angleDelta.y / 120 * Qt.styleHints.wheelScrollLines
        const delta = wheel.pixelDelta.y !== 0 ? wheel.pixelDelta.y : lines * Theme.wheelLineHeight
        const end = Math.max(0, flickable.contentHeight - flickable.height)
        flickable.contentY = Math.min(end, Math.max(0, flickable.contentY - delta))
    }

    RowLayout {
        id: titleRow
        width: parent.width
        SectionTitle {
            Layout.fillWidth: true
            eyebrow: "Pairing"
            title: "Scan once, then just reopen the thread."
        }
        SecondaryAgentButton {
            objectName: "openInBrowserButton"
            text: "Open in browser"
            enabled: card.runtime.hasPairPage
            description: "Opens the pairing page in your web browser."
            onClicked: card.runtime.openPairingPage()
        }
    }
    Item {
        objectName: "previewFrame"
        width: parent.width
        height: card.previewHeight
        // Rounded corners for whatever shows the page.
        Rectangle {
            id: frame
            anchors.fill: parent
            radius: Theme.previewRadius
            color: Theme.previewFill
            clip: true
            // The QR image the runtime wrote beside the page, scannable from the moment it is
            // there; the web view, which takes a while to make, takes over once it has the page.
            Rectangle {
                objectName: "pairImage"
                anchors.centerIn: parent
                visible: card.runtime.hasPairPage && !card.pagePainted
                width: Math.min(frame.width, frame.height) - 2 * Theme.qrMargin
                height: width
                radius: Theme.previewRadius
                color: Theme.qrTile
                Accessible.ignored: true
                Image {
                    anchors.fill: parent
                    anchors.margins: Theme.qrPadding
                    source: card.runtime.pairImageURL
                    fillMode: Image.PreserveAspectFit
                    // Sharp modules read best.
                    smooth: false
                    cache: false
                }
            }
            // The code for screen readers, whichever of the image and the web view draws it.
            Item {
                objectName: "pairCode"
                anchors.fill: parent
                visible: card.runtime.hasPairPage
                Accessible.role: Accessible.Graphic
                Accessible.name: "Pairing QR code"
            }
            // The web view exists only while there is a page to show; it shows the latest one.
            Loader {
                id: previewLoader
                objectName: "previewLoader"
                anchors.fill: parent
                active: card.runtime.hasPairPage
                // The window shows (and the QR image in it) before the web view is made.
                asynchronous: true
                sourceComponent: PairPagePreview {
                    objectName: "pairPagePreview"
                    qrMargin: Theme.qrMargin
                }
                Binding {
                    target: previewLoader.item
                    property: "location"
                    value: card.runtime.pairPageURL
                    when: previewLoader.status === Loader.Ready
                }
            }
            MouseArea {
                objectName: "previewWheel"
                anchors.fill: parent
                acceptedButtons: Qt.NoButton
                enabled: card.scroller !== null
                onWheel: wheel => card.scrollWindow(wheel)
            }
            Column {
                objectName: "previewPlaceholder"
                visible: !card.runtime.hasPairPage
                anchors.centerIn: parent
                width: parent.width - 64
                spacing: 14
                Rectangle {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 126
                    height: 126
                    radius: 30
                    color: Theme.placeholderTile
                    Image {
                        anchors.centerIn: parent
                        width: 86
                        height: 86
                        source: Theme.mark
                        sourceSize.width: 172
                        sourceSize.height: 172
                    }
                }
                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: "The pairing page appears here as soon as the local bridge starts."
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    color: Theme.text
                    font.pixelSize: Theme.placeholderHeadingSize
                    font.bold: true
                    wrapMode: Text.Wrap
                }
                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: AgentTexts.previewNote
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    color: Theme.previewNote
                    font.pixelSize: Theme.bodySize
                    font.weight: Font.Medium
                    wrapMode: Text.Wrap
                }
                // A bridge that could not start: what to do about it.
                Text {
                    textFormat: Text.PlainText
                    objectName: "placeholderNextStep"
                    width: parent.width
                    visible: text !== ""
                    horizontalAlignment: Text.AlignHCenter
                    text: card.runtime.nextStep
                    Accessible.role: Accessible.AlertMessage
                    Accessible.name: text
                    color: Theme.warning
                    font.pixelSize: Theme.bodySize
                    font.bold: true
                    wrapMode: Text.Wrap
                }
                FixAction {
                    objectName: "placeholderFix"
                    anchors.horizontalCenter: parent.horizontalCenter
                    field: card.runtime.nextStepField
                    onClicked: card.fixSetting(field)
                }
            }
            // While no runtime serves the code shown, it is dimmed and the card says so.
            Rectangle {
                objectName: "bridgeDown"
                anchors.fill: parent
                visible: card.runtime.down && card.runtime.hasPairPage
                radius: Theme.previewRadius
                color: Theme.downVeil
                Accessible.role: Accessible.AlertMessage
                Accessible.name: downTitle.text + (downReason.text !== "" ? " " + downReason.text : "")
                                 + (nextStep.text !== "" ? " " + nextStep.text : "")
                Column {
                    anchors.centerIn: parent
                    width: parent.width - 64
                    spacing: 10
                    Text {
                        textFormat: Text.PlainText
                        id: downTitle
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        text: "The bridge is down: this code does not reach it."
                        color: Theme.text
                        font.pixelSize: Theme.placeholderHeadingSize
                        font.bold: true
                        wrapMode: Text.Wrap
                    }
                    Text {
                        textFormat: Text.PlainText
                        id: downReason
                        objectName: "downReason"
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        text: card.runtime.downReason
                        color: Theme.previewNote
                        font.pixelSize: Theme.bodySize
                        wrapMode: Text.Wrap
                    }
                    Text {
                        textFormat: Text.PlainText
                        id: nextStep
                        objectName: "nextStep"
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        text: card.runtime.nextStep
                        color: Theme.text
                        font.pixelSize: Theme.bodySize
                        font.bold: true
                        wrapMode: Text.Wrap
                    }
                    FixAction {
                        objectName: "downFix"
                        anchors.horizontalCenter: parent.horizontalCenter
                        field: card.runtime.nextStepField
                        onClicked: card.fixSetting(field)
                    }
                }
            }
        }
    }
}
