// The hidden page's guard (renderedpage.h). Installed in the page's own script world of every document of
// the hidden page, its frames' included, before any script of the page runs, it takes away the kinds of
// request that the loader cannot check one by one: workers of every kind (a worker's requests need not
// pass the loader's check, and a service worker would answer for the site afterwards), WebRTC (its
// STUN and TURN packets are no requests at all), WebSockets and WebTransport. A page's script finds none
// of them.
//
// A frame that a page makes without an address of its own (about:blank) gets no document of its own for
// the guard to run in, yet hands the page a fresh set of globals. So the guard also takes them away from
// every frame of the page it can reach, at once whenever a node is inserted anywhere and whenever the
// page asks an element for a frame's window or document, before the page can use them.
(() => {
    'use strict';
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
})();
