// Loaded into KWin by the Fennimar agent: reports every change of the window with keyboard focus,
// and of its title, to the agent's connection on the session bus. KWin 5 names the signal
// clientActivated and the property activeClient; KWin 6 windowActivated and activeWindow. Every
// value is sent as a string, since a number from a script reaches D-Bus as a double. @TOKEN@ is a
// secret of this load: any script in KWin can call the agent, only this one knows it. The window's
// id lets the agent check the report against KWin's own description of that window. The title
// tells the agent which of a browser's windows is in front.
function report(w) {
    callDBus("@SERVICE@", "/app/fennimar/Agent/KWinFront", "app.fennimar.Agent.KWinFront", "Activated",
             w ? String(w.desktopFileName || "") : "", w ? String(w.resourceClass || "") : "",
             w ? String(w.resourceName || "") : "", w ? String(w.pid || 0) : "0", "@TOKEN@",
             w ? String(w.internalId || "") : "", w ? String(w.caption || "") : "");
}
let titled = null;
function retitled() {
    report(titled);
}
function activated(w) {
    try {
        if (titled)
            titled.captionChanged.disconnect(retitled);
    } catch (e) {
        // The window was closed and its object is gone: nothing left to disconnect.
    }
    titled = w || null;
    if (titled)
        titled.captionChanged.connect(retitled);
    report(titled);
}
(workspace.windowActivated || workspace.clientActivated).connect(activated);
activated(workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient);
