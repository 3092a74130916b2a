import QtQuick
import KestroAgent

// What the runtime reported: the Codex version, the diagnostic line, the last event and the
// pair link, with the link's actions.
AgentCard {
    id: card
    objectName: "runtimeCard"
    required property AgentViewModel viewModel

    SectionTitle {
        width: parent.width
        eyebrow: "Runtime"
        title: "What the bridge is doing right now."
    }
    RuntimeRow {
        width: parent.width
        label: "Codex"
        value: card.viewModel.codexVersion
    }
    RuntimeRow {
        width: parent.width
        label: "Diagnostic"
        value: card.viewModel.diagnostic
    }
    RuntimeRow {
        objectName: "lastEventRow"
        width: parent.width
        label: "Last event"
        value: card.viewModel.lastEvent
    }
    RuntimeRow {
        objectName: "pairLinkRow"
        width: parent.width
        label: "Pair link"
        value: card.viewModel.pairLinkText
    }
    Row {
        spacing: 10
        PrimaryAgentButton {
            objectName: "copyPairLinkButton"
            text: "Copy pair link"
            enabled: card.viewModel.hasPairLink
            onClicked: card.viewModel.copyPairLink()
        }
        SecondaryAgentButton {
            objectName: "openPairingPageButton"
            text: "Open pairing page"
            enabled: card.viewModel.hasPairPage
            onClicked: card.viewModel.openPairingPage()
        }
    }
}
