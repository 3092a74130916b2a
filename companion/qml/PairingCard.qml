import QtQuick
import QtQuick.Layouts
import KestroAgent

// The pairing page to scan: a preview of the page the runtime wrote, or a placeholder until
// there is one.
AgentCard {
    id: card
    objectName: "pairingCard"
    required property AgentViewModel viewModel
    // What the wheel over the preview scrolls: the window, not the page, whose QR code stays in
    // its frame.
    property Flickable scroller

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
        width: parent.width
        SectionTitle {
            Layout.fillWidth: true
            eyebrow: "Pairing"
            title: "Scan once, then just reopen the thread."
        }
        SecondaryAgentButton {
            objectName: "openInBrowserButton"
            text: "Open in browser"
            enabled: card.viewModel.hasPairPage
            onClicked: card.viewModel.openPairingPage()
        }
    }
    Item {
        width: parent.width
        height: Theme.previewHeight
        // Rounded corners for whatever shows the page.
        Rectangle {
            anchors.fill: parent
            radius: Theme.previewRadius
            color: Theme.previewFill
            clip: true
            // The web view exists only while there is a page to show and the window is shown; it
            // shows the latest one.
            Loader {
                id: previewLoader
                objectName: "previewLoader"
                anchors.fill: parent
                active: card.viewModel.showsPreview
                sourceComponent: PairPagePreview {
                    objectName: "pairPagePreview"
                }
                Binding {
                    target: previewLoader.item
                    property: "location"
                    value: card.viewModel.pairPageURL
                    when: previewLoader.status === Loader.Ready
                }
            }
            MouseArea {
                objectName: "previewWheel"
                anchors.fill: parent
                // Clicks and hovering reach the page; only the wheel is taken.
                acceptedButtons: Qt.NoButton
                enabled: card.scroller !== null
                onWheel: wheel => card.scrollWindow(wheel)
            }
            Column {
                objectName: "previewPlaceholder"
                visible: !card.viewModel.hasPairPage
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
                        source: "KestroMark.png"
                        sourceSize.width: 172
                        sourceSize.height: 172
                    }
                }
                Text {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: "The pairing page appears here as soon as the local bridge starts."
                    color: Theme.text
                    font.pixelSize: Theme.placeholderHeadingSize
                    font.bold: true
                    wrapMode: Text.Wrap
                }
                Text {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: card.viewModel.texts.previewNote
                    color: Theme.previewNote
                    font.pixelSize: Theme.bodySize
                    font.weight: Font.Medium
                    wrapMode: Text.Wrap
                }
            }
        }
    }
}
