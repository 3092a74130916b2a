import QtQuick
import QtWebEngine

// The pairing page as the runtime wrote it: a web view on the local file, which may read the
// folder it is in (the QR image beside it). The card shows through its background; it has no
// context menu or inspector. A location it already shows is not loaded again. Once loaded, the
// QR code is brought to the middle of the view, where a phone can scan it from the screen.
Item {
    id: preview
    // The page to show; each new location is shown once set.
    property url location
    property url loadedURL
    readonly property alias loadCount: web.loadCount
    readonly property alias loadProgress: web.loadProgress
    readonly property bool loaded: web.loadedOnce

    onLocationChanged: show(location)

    // Shows `page`, loading it only when it differs from what is shown.
    function show(page: url) {
        if (String(page) === String(loadedURL))
            return
        loadedURL = page
        web.url = page
    }

    WebEngineView {
        id: web
        objectName: "pairPageWeb"
        property int loadCount: 0
        property bool loadedOnce: false
        anchors.fill: parent
        backgroundColor: "transparent"
        settings.localContentCanAccessFileUrls: true
        settings.localContentCanAccessRemoteUrls: false
        settings.javascriptCanOpenWindows: false
        settings.showScrollBars: false
        onContextMenuRequested: request => request.accepted = true
        onLoadingChanged: request => {
            if (request.status === WebEngineView.LoadStartedStatus)
                loadCount += 1
            else if (request.status === WebEngineView.LoadSucceededStatus)
                runJavaScript("var qr = document.querySelector('img.qr'); if (qr) qr.scrollIntoView({block: 'center'});",
                              () => loadedOnce = true)
        }
    }
}
