import QtQuick
import KestroAgent

// The keyboard focus ring: a line around its parent, a little outside it, while `shown`.
Rectangle {
    property bool shown
    // The corner radius of what it surrounds.
    property real targetRadius

    anchors.fill: parent
    anchors.margins: -(Theme.focusRingGap + Theme.focusRingWidth)
    radius: targetRadius > 0 ? targetRadius + Theme.focusRingGap + Theme.focusRingWidth : 0
    color: "transparent"
    border.color: Theme.focusRing
    border.width: Theme.focusRingWidth
    visible: shown
}
