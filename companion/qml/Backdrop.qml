import QtQuick
import KestroAgent

// The window's background: a linear gradient from the top-leading to the bottom-trailing
// corner, drawn as a vertical gradient on a square turned about the centre.
Item {
    clip: true

    Rectangle {
        readonly property real diagonal: Math.sqrt(parent.width * parent.width + parent.height * parent.height)
        width: diagonal
        height: diagonal
        anchors.centerIn: parent
        rotation: -45
        gradient: Gradient {
            GradientStop { position: 0.0; color: Theme.backdropStart }
            GradientStop { position: 0.5; color: Theme.backdropMiddle }
            GradientStop { position: 1.0; color: Theme.backdropEnd }
        }
    }
}
