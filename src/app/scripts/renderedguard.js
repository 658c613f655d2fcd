// The hidden page's guard (renderedpage.h). Installed in the page's own script world of every document of
// the hidden page, its frames' included, before any script of the page runs, it takes away the kinds of
// request that the loader cannot check one by one: workers of every kind (a worker's requests need not
// pass the loader's check, and a service worker would answer for the site afterwards), WebRTC (its
// STUN and TURN packets are no requests at all), WebSockets and WebTransport. A page's script finds none
// of them.
//
// It is a function of two values. `policy` is a content security policy that names the hosts the loader
// has admitted; it goes into the document before anything of the page's is parsed. The engine asks the
// loader about a subresource's redirect only once it has followed it; the policy is checked before, so a
// redirect to a host the loader has not admitted is never followed. `reportMark`, a secret of the run,
// opens each console line that names an address the policy refused, so that the loader can look its host
// up and load the page again with it admitted, as it does for a request it refuses itself.
//
// A frame that a page makes without an address of its own (about:blank) gets no document of its own for
// the guard to run in, yet hands the page a fresh set of globals. So the guard also takes them away from
// every frame of the page it can reach, at once whenever a node is inserted anywhere and whenever the
// page asks an element for a frame's window or document, before the page can use them. Such a frame
// keeps the policy of the document that made it.
((policy, reportMark) => {
    'use strict';
    const report = console.debug.bind(console);
    // A policy counts only from a meta element inside the document's head, and stays once given. The head
    // is put in and taken out again: in a new document, before the parser has put anything into it.
    const installPolicy = (document) => {
        const root = document.documentElement;
        if (!policy || !root) return;
        const xhtml = 'http://www.w3.org/1999/xhtml';
        const head = document.createElementNS(xhtml, 'head');
        const meta = document.createElementNS(xhtml, 'meta');
        meta.setAttribute('http-equiv', 'Content-Security-Policy');
        meta.setAttribute('content', policy);
        head.appendChild(meta);
        root.insertBefore(head, root.firstChild);
        head.remove();
    };
    installPolicy(document);
    document.addEventListener('securitypolicyviolation', (event) => {
        if (event.isTrusted && event.blockedURI) report(reportMark + ' ' + event.blockedURI);
    }, true);
    const names = [
        'Worker', 'SharedWorker', 'ServiceWorker', 'ServiceWorkerContainer', 'ServiceWorkerRegistration',
        'RTCPeerConnection', 'webkitRTCPeerConnection', 'RTCDataChannel', 'RTCRtpSender', 'RTCRtpReceiver',
        'RTCRtpTransceiver', 'RTCIceTransport', 'RTCSctpTransport', 'RTCDtlsTransport', 'WebSocket', 'WebTransport'
    ];
    const guarded = new WeakSet();
    const take = (owner, name) => {
        try {
            if (owner && Object.getOwnPropertyDescriptor(owner, name)) delete owner[name];
        } catch (e) {}
    };
    const guard = (w) => {
        try {
            if (!w || guarded.has(w)) return;
            guarded.add(w);
            // A blank frame's document does not take the policy of the one that made it.
            if (w !== window) installPolicy(w.document);
            for (const name of names) take(w, name);
            // The service worker's door is a getter of the navigator's prototype.
            take(w.Navigator && w.Navigator.prototype, 'serviceWorker');
            const frames = () => {
                for (let i = 0; i < w.length; ++i) guard(w[i]);
            };
            // Mutation events come at once, before the inserting call returns.
            w.addEventListener('DOMNodeInserted', frames, true);
            const attachShadow = w.Element.prototype.attachShadow;
            w.Element.prototype.attachShadow = function(...args) {
                const root = attachShadow.apply(this, args);
                root.addEventListener('DOMNodeInserted', frames, true);
                return root;
            };
            for (const type of ['HTMLIFrameElement', 'HTMLFrameElement', 'HTMLObjectElement', 'HTMLEmbedElement']) {
                const proto = w[type] && w[type].prototype;
                for (const name of ['contentWindow', 'contentDocument']) {
                    const property = proto && Object.getOwnPropertyDescriptor(proto, name);
                    if (!property || !property.get) continue;
                    const get = property.get;
                    Object.defineProperty(proto, name, {
                        configurable : true,
                        enumerable : property.enumerable,
                        get() {
                            const value = get.call(this);
                            guard(name === 'contentWindow' ? value : value && value.defaultView);
                            return value;
                        },
                    });
                }
            }
            frames();
        } catch (e) {} // a frame of another origin: its own document has the guard
    };
    guard(window);
})
