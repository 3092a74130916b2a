import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The launch settings, each edit saved at once, the pairing token, and the first invalid
// setting's message.
AgentCard {
    id: card
    objectName: "configurationCard"
    required property AgentViewModel viewModel
    // "Choose folder" was pressed: the window shows its folder dialog.
    signal chooseFolder()

    SectionTitle {
        width: parent.width
        eyebrow: "Configuration"
        title: card.viewModel.texts.configurationTitle
    }
    SettingField {
        objectName: "workspaceField"
        width: parent.width
        label: "Workspace"
        placeholder: card.viewModel.texts.workspacePlaceholder
        help: "The project or root folder kestro should use first."
        text: card.viewModel.workingDirectory
        onEdited: text => card.viewModel.workingDirectory = text
        SecondaryAgentButton {
            text: "Choose folder"
            onClicked: card.chooseFolder()
        }
    }
    SettingField {
        objectName: "machineNameField"
        width: parent.width
        label: "Machine name"
        placeholder: card.viewModel.texts.machineNamePlaceholder
        help: card.viewModel.texts.machineNameHelp
        text: card.viewModel.machineName
        onEdited: text => card.viewModel.machineName = text
    }
    SettingField {
        width: parent.width
        label: "Advertised host"
        placeholder: "100.x.x.x or tailnet name"
        help: "Optional Tailscale IP or hostname."
        text: card.viewModel.advertisedHost
        onEdited: text => card.viewModel.advertisedHost = text
    }
    SettingField {
        width: parent.width
        label: "Bind host"
        placeholder: "0.0.0.0"
        help: "0.0.0.0 works for LAN or Tailscale."
        text: card.viewModel.host
        onEdited: text => card.viewModel.host = text
    }
    SettingField {
        width: parent.width
        label: "Port"
        placeholder: "8787"
        help: "Default: 8787"
        text: card.viewModel.port
        onEdited: text => card.viewModel.port = text
    }
    SettingField {
        objectName: "tokenField"
        width: parent.width
        label: "Pair token"
        help: card.viewModel.tokenNote
        text: card.viewModel.maskedToken
        readOnly: true
        SecondaryAgentButton {
            text: "Copy"
            onClicked: card.viewModel.copyToken()
        }
        SecondaryAgentButton {
            text: "Regenerate"
            onClicked: card.viewModel.regenerateToken()
        }
    }
    Column {
        width: parent.width
        spacing: 4
        Switch {
            id: loginSwitch
            objectName: "startAtLoginSwitch"
            leftPadding: 0
            text: "Start at login"
            checked: card.viewModel.startsAtLogin
            onToggled: card.viewModel.startsAtLogin = checked
            contentItem: Text {
                leftPadding: loginSwitch.indicator.width + loginSwitch.spacing
                verticalAlignment: Text.AlignVCenter
                text: loginSwitch.text
                color: Theme.fieldLabel
                font.pixelSize: Theme.labelSize
                font.bold: true
            }
        }
        Text {
            width: parent.width
            text: "Starts kestro Agent in the tray when you log in, so your phone can reach this computer."
            color: Theme.help
            font.pixelSize: Theme.labelSize
            wrapMode: Text.Wrap
        }
    }
    Row {
        objectName: "validationWarning"
        width: parent.width
        spacing: 8
        visible: card.viewModel.validationMessage !== ""
        Text {
            text: "\u26A0"
            color: Theme.warning
            font.pixelSize: Theme.warningIconSize
        }
        Text {
            objectName: "validationText"
            width: parent.width - 30
            text: card.viewModel.validationMessage
            color: Theme.warning
            font.pixelSize: Theme.labelSize
            font.bold: true
            wrapMode: Text.Wrap
        }
    }
}
