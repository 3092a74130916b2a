import QtQuick
import QtWebEngine

// The pairing page as the runtime wrote it: a web view on the local file, which may read the
// folder it is in (the QR image beside it). Only the page's QR code shows, its white tile as large
// as the view allows with `qrMargin` around it, in the middle; the rest of the page, and the
// view's background, let the card show through (the browser has the whole page). The view takes
// no input (no keyboard focus, no clicks: it only shows the code) and the page never scrolls; it
// has no context menu or inspector. A location it already shows is not loaded again.
Item {
    id: preview
    // The page to show; each new location is shown once set.
    property url location
    property url loadedURL
    property int qrMargin: 16
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
        // Out of the Tab order (its own items would be in it) and out of reach of the pointer.
        enabled: false
        backgroundColor: "transparent"
        settings.localContentCanAccessFileUrls: true
        settings.localContentCanAccessRemoteUrls: false
        settings.javascriptCanOpenWindows: false
        settings.showScrollBars: false
        settings.focusOnNavigationEnabled: false
        onContextMenuRequested: request => request.accepted = true
        onLoadingChanged: request => {
            if (request.status === WebEngineView.LoadStartedStatus)
                loadCount += 1
            else if (request.status === WebEngineView.LoadSucceededStatus)
                // Once the image is in (until then it has no size to fit), the code is fitted and
                // brought to the middle, again whenever the view changes size; two frames later,
                // when the page has painted, the page says so.
                runJavaScript("(() => { const qr = document.querySelector('img.qr'), margin = "
                              + preview.qrMargin + ";"
                              + " const root = document.documentElement, body = document.body;"
                              + " root.style.overflow = 'hidden';"
                              + " const fit = () => { if (!qr) return;"
                              + "  qr.style.width = Math.max(0, Math.min(innerWidth, innerHeight) - 2 * margin) + 'px';"
                              + "  qr.scrollIntoView({block: 'center', inline: 'center'}); };"
                              + " if (qr && body) { root.style.background = 'transparent';"
                              + "  body.style.background = 'transparent'; body.style.visibility = 'hidden';"
                              + "  qr.style.visibility = 'visible'; qr.style.boxSizing = 'border-box';"
                              + "  qr.style.maxWidth = 'none'; qr.style.margin = '0 auto'; }"
                              + " addEventListener('resize', fit);"
                              + " const show = () => { fit(); requestAnimationFrame(() => requestAnimationFrame("
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
