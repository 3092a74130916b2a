import QtQuick
import KestroAgent

// What the runtime reported: the Codex version (with how to get Codex where it found none), the
// diagnostic line, the last event and the pair link, with the link's actions.
AgentCard {
    id: card
    objectName: "runtimeCard"
    required property AgentRuntimeMirror runtime
    // "Choose Codex program" was pressed.
    signal chooseCodexProgram()

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
    FixNotice {
        objectName: "codexNotice"
        width: parent.width
        text: card.runtime.codexAdvice
        field: "codexPath"
        actionDescription: "Choose the Codex program in a file dialog."
        onAct: card.chooseCodexProgram()
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
            description: "Copies the pair link to the clipboard, for a phone that cannot scan."
            onClicked: card.runtime.copyPairLink()
        }
        SecondaryAgentButton {
            objectName: "openPairingPageButton"
            text: "Open pairing page"
            enabled: card.runtime.hasPairPage
            description: "Opens the pairing page in your web browser."
            onClicked: card.runtime.openPairingPage()
        }
    }
}
