import QtQuick
import KestroAgent

// The control that mends what a message says: `label`, or, for a setting's message, the action
// named after the setting `field` (a settings property name). Hidden when it has neither.
SecondaryAgentButton {
    property string field
    property string label

    visible: text !== ""
    text: label !== "" ? label : ({
        port: "Change the port",
        codexPath: "Choose Codex program",
        workingDirectory: "Choose folder",
        machineName: "Change the machine name"
    })[field] ?? ""
}
