import QtQuick
import KestroAgent

// A card's heading: a small upper-cased eyebrow over the title.
Column {
    id: heading
    property string eyebrow
    property string title

    spacing: 6

    Text {
        text: heading.eyebrow.toUpperCase()
        color: Theme.eyebrow
        font.pixelSize: Theme.eyebrowSize
        font.bold: true
        font.letterSpacing: Theme.eyebrowSpacing
    }
    Text {
        text: heading.title
        color: Theme.text
        font.pixelSize: Theme.sectionTitleSize
        font.bold: true
        wrapMode: Text.Wrap
        width: heading.width
    }
}
