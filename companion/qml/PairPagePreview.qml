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
    // The web view has painted the page, its QR code in the middle.
    readonly property bool loaded: web.loadedOnce
    readonly property string paintedMark: "kestro-pair-page-painted"

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
                // Once the image is in (until then the page has no height for it to scroll to), and
                // two frames later, when the page has painted, the page says so.
                runJavaScript("(() => { const qr = document.querySelector('img.qr');"
                              + " const show = () => { if (qr) qr.scrollIntoView({block: 'center'});"
                              + " requestAnimationFrame(() => requestAnimationFrame("
                              + "() => console.info('" + preview.paintedMark + "'))); };"
                              + " if (!qr || qr.complete) show();"
                              + " else { qr.addEventListener('load', show); qr.addEventListener('error', show); } })()")
        }
        onJavaScriptConsoleMessage: (level, message, lineNumber, sourceID) => {
            if (message === preview.paintedMark)
                loadedOnce = true
        }
        // A renderer that died shows nothing: the QR image is shown again until the page is back.
        onRenderProcessTerminated: (status, exitCode) => {
            loadedOnce = false
            reload()
        }
    }
}
