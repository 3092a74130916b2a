pragma ComponentBehavior: Bound

import QtQuick
import KestroAgent

// The look every card shares: padding on a rounded, faintly lit panel with a soft shadow.
Item {
    id: card
    default property alias content: column.data
    property alias spacing: column.spacing

    implicitWidth: column.implicitWidth + 2 * Theme.cardPadding
    implicitHeight: column.implicitHeight + 2 * Theme.cardPadding

    // The shadow: black at 22 %, blurred 28, 18 below the card.
    Repeater {
        model: 7
        Rectangle {
            required property int index
            x: -index * 4
            y: 18 - index * 4
            width: card.width + index * 8
            height: card.height + index * 8
            radius: Theme.cardRadius + index * 4
            color: Theme.cardShadow
            opacity: Theme.cardShadowOpacity / 7
        }
    }
    Rectangle {
        anchors.fill: parent
        radius: Theme.cardRadius
        color: Theme.cardBase
        Rectangle {
            anchors.fill: parent
            radius: Theme.cardRadius
            color: Theme.cardFill
            border.color: Theme.hairline
            border.width: 1
        }
    }
    Column {
        id: column
        x: Theme.cardPadding
        y: Theme.cardPadding
        width: card.width - 2 * Theme.cardPadding
        spacing: Theme.cardSpacing
    }
}
