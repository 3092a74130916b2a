import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The launch settings, each edit saved at once, the pairing token, and the first invalid
// setting's message.
AgentCard {
    id: card
    objectName: "configurationCard"
    required property AgentSettingsMirror settings
    required property AgentTokenMirror token
    required property AgentDesktopMirror desktop
    // "Choose folder" was pressed: the window shows its folder dialog.
    signal chooseFolder()

    SectionTitle {
        width: parent.width
        eyebrow: "Configuration"
        title: AgentTexts.configurationTitle
    }
    SettingField {
        objectName: "workspaceField"
        width: parent.width
        label: "Workspace"
        placeholder: AgentTexts.workspacePlaceholder
        help: "The project or root folder kestro should use first."
        text: card.settings.workingDirectory
        onEdited: text => card.settings.workingDirectory = text
        SecondaryAgentButton {
            text: "Choose folder"
            onClicked: card.chooseFolder()
        }
    }
    SettingField {
        objectName: "machineNameField"
        width: parent.width
        label: "Machine name"
        placeholder: AgentTexts.machineNamePlaceholder
        help: AgentTexts.machineNameHelp
        text: card.settings.machineName
        onEdited: text => card.settings.machineName = text
    }
    SettingField {
        width: parent.width
        label: "Advertised host"
        placeholder: "100.x.x.x or tailnet name"
        help: "Optional Tailscale IP or hostname."
        text: card.settings.advertisedHost
        onEdited: text => card.settings.advertisedHost = text
    }
    SettingField {
        width: parent.width
        label: "Bind host"
        placeholder: "0.0.0.0"
        help: "0.0.0.0 works for LAN or Tailscale."
        text: card.settings.host
        onEdited: text => card.settings.host = text
    }
    SettingField {
        width: parent.width
        label: "Port"
        placeholder: "8787"
        help: "Default: 8787"
        text: card.settings.port
        onEdited: text => card.settings.port = text
    }
    SettingField {
        objectName: "tokenField"
        width: parent.width
        label: "Pair token"
        help: card.token.note
        text: card.token.maskedToken
        readOnly: true
        SecondaryAgentButton {
            text: "Copy"
            onClicked: card.token.copy()
        }
        SecondaryAgentButton {
            text: "Regenerate"
            onClicked: card.token.regenerate()
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
            checked: card.desktop.startsAtLogin
            onToggled: card.desktop.startsAtLogin = checked
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
        visible: card.settings.validationMessage !== ""
        Text {
            text: "\u26A0"
            color: Theme.warning
            font.pixelSize: Theme.warningIconSize
        }
        Text {
            objectName: "validationText"
            width: parent.width - 30
            text: card.settings.validationMessage
            color: Theme.warning
            font.pixelSize: Theme.labelSize
            font.bold: true
            wrapMode: Text.Wrap
        }
    }
}
