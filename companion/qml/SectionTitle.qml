import QtQuick

// A card's heading: a small upper-cased eyebrow over the title.
Column {
    property string eyebrow
    property string title

    spacing: 6

    Text {
        text: parent.eyebrow.toUpperCase()
        color: Qt.rgba(1, 1, 1, 0.46)
        font.pixelSize: 11
        font.bold: true
        font.letterSpacing: 1.4
    }
    Text {
        text: parent.title
        color: "white"
        font.pixelSize: 22
        font.bold: true
        wrapMode: Text.Wrap
        width: parent.width
    }
}
