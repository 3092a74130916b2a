import QtQuick
import QtQuick.Controls.Basic
import KestroAgent

// The launch settings, each edit saved at once, the pairing token, start at login, and the first
// invalid setting's message with the control that mends it.
AgentCard {
    id: card
    objectName: "configurationCard"
    required property AgentSettingsMirror settings
    required property AgentTokenMirror token
    required property AgentDesktopMirror desktop
    // "Choose folder" or "Choose…" was pressed: the window shows its folder or file dialog.
    signal chooseFolder()
    signal chooseCodexProgram()
    // The first invalid setting's control was asked for.
    signal fixSetting(string field)

    // Brings the keyboard focus to the field of the setting `name` (a settings property name).
    function focusField(name: string) {
        const fields = {
            workingDirectory: workspaceField,
            machineName: machineNameField,
            advertisedHost: advertisedHostField,
            host: hostField,
            port: portField,
            codexPath: codexPathField
        }
        const setting = fields[name] as SettingField
        if (setting)
            setting.field.forceActiveFocus(Qt.OtherFocusReason)
    }

    SectionTitle {
        width: parent.width
        eyebrow: "Configuration"
        title: AgentTexts.configurationTitle
    }
    SettingField {
        id: workspaceField
        objectName: "workspaceField"
        width: parent.width
        label: "Workspace"
        placeholder: AgentTexts.workspacePlaceholder
        help: "The project or root folder kestro should use first."
        text: card.settings.workingDirectory
        onEdited: text => card.settings.workingDirectory = text
        SecondaryAgentButton {
            objectName: "chooseFolderButton"
            text: "Choose folder"
            description: "Choose the workspace folder in a folder dialog."
            onClicked: card.chooseFolder()
        }
    }
    SettingField {
        id: machineNameField
        objectName: "machineNameField"
        width: parent.width
        label: "Machine name"
        placeholder: AgentTexts.machineNamePlaceholder
        help: AgentTexts.machineNameHelp
        text: card.settings.machineName
        onEdited: text => card.settings.machineName = text
    }
    SettingField {
        id: advertisedHostField
        width: parent.width
        label: "Advertised host"
        placeholder: "100.x.x.x or tailnet name"
        help: "Optional Tailscale IP or hostname."
        text: card.settings.advertisedHost
        onEdited: text => card.settings.advertisedHost = text
    }
    SettingField {
        id: hostField
        width: parent.width
        label: "Bind host"
        placeholder: "0.0.0.0"
        help: "0.0.0.0 works for LAN or Tailscale."
        text: card.settings.host
        onEdited: text => card.settings.host = text
    }
    SettingField {
        id: portField
        objectName: "portField"
        width: parent.width
        label: "Port"
        placeholder: "8787"
        help: "Default: 8787"
        text: card.settings.port
        onEdited: text => card.settings.port = text
    }
    SettingField {
        id: codexPathField
        objectName: "codexPathField"
        width: parent.width
        label: "Codex program"
        placeholder: "Found by the bridge"
        help: "The Codex CLI the bridge runs, if it does not find it by itself. Leave empty to let it look in the usual places. Takes effect when the bridge starts again."
        text: card.settings.codexPath
        onEdited: text => card.settings.codexPath = text
        SecondaryAgentButton {
            objectName: "chooseCodexButton"
            text: "Choose…"
            description: "Choose the Codex program in a file dialog."
            onClicked: card.chooseCodexProgram()
        }
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
            description: "Copies the whole pair token to the clipboard."
            onClicked: card.token.copy()
        }
        SecondaryAgentButton {
            text: "Regenerate"
            description: "Makes a new pair token; paired phones must pair again."
            onClicked: card.token.regenerate()
        }
    }
    FixNotice {
        objectName: "secretStoreNotice"
        width: parent.width
        text: card.token.storeAdvice
        actionText: "Try again"
        actionDescription: "Asks the secret store for the pair token again."
        onAct: card.token.retryStore()
    }
    Column {
        width: parent.width
        spacing: 4
        Switch {
            id: loginSwitch
            objectName: "startAtLoginSwitch"
            leftPadding: 0
            text: "Start at login"
            focusPolicy: Qt.StrongFocus
            checked: card.desktop.startsAtLogin
            onToggled: card.desktop.startsAtLogin = checked
            Accessible.description: loginHelp.text
            Keys.onReturnPressed: event => pressByKey(event)
            Keys.onEnterPressed: event => pressByKey(event)
            function pressByKey(event: KeyEvent) {
                if (event.isAutoRepeat)
                    return
                toggle()
                toggled()
            }
            contentItem: Text {
                textFormat: Text.PlainText
                leftPadding: loginSwitch.indicator.width + loginSwitch.spacing
                verticalAlignment: Text.AlignVCenter
                text: loginSwitch.text
                color: Theme.fieldLabel
                font.pixelSize: Theme.labelSize
                font.bold: true
            }
            FocusRing {
                shown: loginSwitch.visualFocus
                targetRadius: 6
            }
        }
        Text {
            textFormat: Text.PlainText
            id: loginHelp
            width: parent.width
            text: "Starts kestro Agent in the tray when you log in, so your phone can reach this computer."
            color: Theme.help
            font.pixelSize: Theme.labelSize
            wrapMode: Text.Wrap
        }
    }
    FixNotice {
        objectName: "validationWarning"
        width: parent.width
        text: card.settings.validationMessage
        field: card.settings.validationField
        onAct: card.fixSetting(field)
    }
}
