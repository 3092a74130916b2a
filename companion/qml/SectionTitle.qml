import QtQuick
import KestroAgent

// A card's heading: a small upper-cased eyebrow over the title. Screen readers meet it as a
// heading named by the eyebrow, the title as its description.
Column {
    id: heading
    property string eyebrow
    property string title

    spacing: 6
    Accessible.role: Accessible.Heading
    Accessible.name: eyebrow
    Accessible.description: title

    Text {
        textFormat: Text.PlainText
        text: heading.eyebrow.toUpperCase()
        color: Theme.eyebrow
        font.pixelSize: Theme.eyebrowSize
        font.bold: true
        font.letterSpacing: Theme.eyebrowSpacing
    }
    Text {
        textFormat: Text.PlainText
        text: heading.title
        color: Theme.text
        font.pixelSize: Theme.sectionTitleSize
        font.bold: true
        wrapMode: Text.Wrap
        width: heading.width
    }
}
