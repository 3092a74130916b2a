import QtQuick

// The look every card shares: 24 of padding on a rounded, faintly lit panel with a soft shadow.
Item {
    id: card
    default property alias content: column.data
    property alias spacing: column.spacing

    implicitWidth: column.implicitWidth + 48
    implicitHeight: column.implicitHeight + 48

    // The shadow: black at 22 %, blurred 28, 18 below the card.
    Repeater {
        model: 7
        Rectangle {
            x: -index * 4
            y: 18 - index * 4
            width: card.width + index * 8
            height: card.height + index * 8
            radius: 28 + index * 4
            color: "black"
            opacity: 0.22 / 7
        }
    }
    Rectangle {
        anchors.fill: parent
        radius: 28
        color: "#0f141c"
        Rectangle {
            anchors.fill: parent
            radius: 28
            color: Qt.rgba(1, 1, 1, 0.045)
            border.color: Qt.rgba(1, 1, 1, 0.08)
            border.width: 1
        }
    }
    Column {
        id: column
        x: 24
        y: 24
        width: card.width - 48
        spacing: 18
    }
}
