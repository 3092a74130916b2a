pragma Singleton
import QtQuick

// The window's look in one place: palette and gradients, the keyboard focus ring, type sizes,
// spacing and shapes. Every text colour meets 4.5:1 against what it is drawn on, the focus ring
// 3:1.
QtObject {
    // Palette -------------------------------------------------------------------------------------
    readonly property color windowFill: "#080a14"
    readonly property color backdropStart: Qt.rgba(0.03, 0.04, 0.08, 1)
    readonly property color backdropMiddle: Qt.rgba(0.04, 0.07, 0.11, 1)
    readonly property color backdropEnd: Qt.rgba(0.03, 0.03, 0.05, 1)
    readonly property color accentStart: Qt.rgba(0.66, 0.78, 1.0, 1)
    readonly property color accentEnd: Qt.rgba(0.49, 0.95, 0.83, 1)

    readonly property color text: "white"
    readonly property color textOnAccent: Qt.rgba(0, 0, 0, 0.82)
    readonly property color tagline: Qt.rgba(1, 1, 1, 0.72)
    readonly property color fieldLabel: Qt.rgba(1, 1, 1, 0.72)
    readonly property color summary: Qt.rgba(1, 1, 1, 0.68)
    readonly property color eyebrow: Qt.rgba(1, 1, 1, 0.5)
    readonly property color rowLabel: Qt.rgba(1, 1, 1, 0.5)
    readonly property color help: Qt.rgba(1, 1, 1, 0.55)
    readonly property color placeholderText: Qt.rgba(1, 1, 1, 0.55)
    readonly property color previewNote: Qt.rgba(1, 1, 1, 0.70)
    readonly property color logText: Qt.rgba(1, 1, 1, 0.80)
    readonly property color warning: Qt.rgba(1.0, 0.78, 0.35, 1)
    readonly property color warningFill: Qt.rgba(1.0, 0.78, 0.35, 0.08)
    readonly property color warningBorder: Qt.rgba(1.0, 0.78, 0.35, 0.32)

    // The keyboard focus ring, a little outside the control it marks: 9.7:1 against a card.
    readonly property color focusRing: Qt.rgba(0.66, 0.78, 1.0, 1)
    readonly property int focusRingWidth: 2
    readonly property int focusRingGap: 2

    readonly property color cardBase: "#0f141c"
    readonly property color cardFill: Qt.rgba(1, 1, 1, 0.045)
    readonly property color cardShadow: "black"
    readonly property real cardShadowOpacity: 0.22
    readonly property color fieldFill: Qt.rgba(1, 1, 1, 0.05)
    readonly property color rowFill: Qt.rgba(1, 1, 1, 0.04)
    readonly property color previewFill: Qt.rgba(1, 1, 1, 0.03)
    readonly property color logoTile: Qt.rgba(0, 0, 0, 0.45)
    readonly property color placeholderTile: Qt.rgba(0, 0, 0, 0.40)
    readonly property color buttonFill: Qt.rgba(1, 1, 1, 0.06)
    readonly property color buttonFillPressed: Qt.rgba(1, 1, 1, 0.10)
    readonly property color hairline: Qt.rgba(1, 1, 1, 0.08)
    readonly property real disabledOpacity: 0.45

    // Over a pairing code that leads nowhere while the bridge is down.
    readonly property color downVeil: Qt.rgba(0.03, 0.04, 0.08, 0.82)
    readonly property color qrTile: "white"

    // The KestroMark artwork.
    readonly property url mark: "../resources/kestro-mark-256.png"

    // Type sizes ----------------------------------------------------------------------------------
    readonly property int titleSize: 32
    readonly property int sectionTitleSize: 22
    readonly property int bodySize: 14
    readonly property int labelSize: 13
    readonly property int badgeSize: 12
    readonly property int helpSize: 12
    readonly property int eyebrowSize: 11
    readonly property real eyebrowSpacing: 1.4
    readonly property real rowLabelSpacing: 1.3
    // Not a whole number of pixels: given to the log's text in points (see `points`).
    readonly property real logSize: 12.5
    readonly property int placeholderHeadingSize: 15
    readonly property int warningIconSize: 15

    // A size in the window's units (logical pixels) as the points a font takes on a screen of
    // this density (an item's Screen.logicalPixelDensity), for sizes that are not whole pixels.
    function points(pixels: real, pixelsPerMillimetre: real): real {
        const dotsPerInch = pixelsPerMillimetre > 0 ? pixelsPerMillimetre * 25.4 : 96
        return pixels * 72 / dotsPerInch
    }

    // Spacing and shapes --------------------------------------------------------------------------
    readonly property int windowPadding: 24
    readonly property int sectionSpacing: 24
    readonly property int headerSpacing: 20
    readonly property int columnSpacing: 22
    readonly property int cardSpacing: 18
    readonly property int minimumColumnWidth: 420
    readonly property int cardPadding: 24
    readonly property int cardRadius: 28
    readonly property int fieldRadius: 16
    readonly property int rowRadius: 16
    readonly property int rowPadding: 16
    readonly property int logRowRadius: 14
    readonly property int logHeight: 260
    // The preview's height where the window has room for it, and the least it shrinks to so that
    // the whole pairing card is in view at the window's default size.
    readonly property int previewHeight: 460
    readonly property int minimumPreviewHeight: 260
    readonly property int previewRadius: 22
    // Between the QR code's white tile and the preview's edge.
    readonly property int qrMargin: 16
    readonly property int qrPadding: 18
    readonly property int noticePadding: 14
    // Kept in view around a control that the keyboard focus brings into view.
    readonly property int revealMargin: 24
    readonly property int logoTileSize: 94
    readonly property int bannerTop: 18
    // How far one line of a wheel's notch scrolls the window.
    readonly property int wheelLineHeight: 20
}
