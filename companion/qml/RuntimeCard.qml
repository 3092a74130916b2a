import QtQuick
import KestroAgent

// What the runtime reported: the Codex version, the diagnostic line, the last event and the
// pair link, with the link's actions.
AgentCard {
    id: card
    objectName: "runtimeCard"
    required property AgentRuntimeMirror runtime

    SectionTitle {
        width: parent.width
        eyebrow: "Runtime"
        title: "What the bridge is doing right now."
    }
    RuntimeRow {
        width: parent.width
        label: "Codex"
        value: card.runtime.codexVersion
    }
    RuntimeRow {
        width: parent.width
        label: "Diagnostic"
        value: card.runtime.diagnostic
    }
    RuntimeRow {
        objectName: "lastEventRow"
        width: parent.width
        label: "Last event"
        value: card.runtime.lastEvent
    }
    RuntimeRow {
        objectName: "pairLinkRow"
        width: parent.width
        label: "Pair link"
        value: card.runtime.pairLinkText
    }
    Row {
        spacing: 10
        PrimaryAgentButton {
            objectName: "copyPairLinkButton"
            text: "Copy pair link"
            enabled: card.runtime.hasPairLink
            onClicked: card.runtime.copyPairLink()
        }
        SecondaryAgentButton {
            objectName: "openPairingPageButton"
            text: "Open pairing page"
            enabled: card.runtime.hasPairPage
            onClicked: card.runtime.openPairingPage()
        }
    }
}
