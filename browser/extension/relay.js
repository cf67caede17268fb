// Relays the page's requests to the service worker on one port per document, and the answers
// back. The browser tells the service worker which frame and document the port belongs to; the
// port closes when the document goes away, and the service worker then releases its controls.
(() => {
  'use strict';
  const api = globalThis.browser ?? globalThis.chrome;
  const TO_RELAY = 'qsft-page-request';
  const FROM_RELAY = 'qsft-relay-answer';
  let port = null;

  function toPage(data) {
    window.postMessage({channel: FROM_RELAY, ...data}, window.location.origin === 'null' ? '*' : window.location.origin);
  }

  function connect() {
    port = api.runtime.connect({name: 'qsft-page'});
    port.onMessage.addListener((message) => toPage(message));
    port.onDisconnect.addListener(() => {
      // The service worker went away (extension reloaded); pending calls fail, the next call
      // connects again.
      port = null;
      toPage({hostGone: true, unanswered: true});
    });
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window || !event.data || event.data.channel !== TO_RELAY) return;
    const request = event.data.request;
    if (!request || typeof request !== 'object') return;
    if (!port) connect();
    port.postMessage(request);
  });
})();
