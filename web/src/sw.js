// Keeps the page's files for use offline. Each is asked of the server first (it answers a 304 for an unchanged
// file) and kept when it comes; the kept copy answers only when the server cannot be reached. The API is never
// cached nor answered here. build.mjs stamps the build's files and a hash of them in: a new build is a new cache.
const kVersion = 'unbuilt';
const kFiles = [];
const kPrefix = 'vellora-page-';
const kCache = kPrefix + kVersion;

self.addEventListener('install', (event) => {
    event.waitUntil(caches.open(kCache).then((cache) => cache.addAll(['./', ...kFiles])).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
    event.waitUntil(caches.keys()
        .then((keys) => Promise.all(keys.filter((key) => key.startsWith(kPrefix) && key !== kCache)
            .map((key) => caches.delete(key))))
        .then(() => self.clients.claim()));
});

// The page's own file a request asks for ('' is the page), or null.
function pageFile(request) {
    const url = new URL(request.url);
    const scope = new URL(self.registration.scope);
    if (request.method !== 'GET' || url.origin !== scope.origin || !url.pathname.startsWith(scope.pathname)) return null;
    const name = url.pathname.slice(scope.pathname.length);
    return name === '' || kFiles.includes(name) ? name : null;
}

async function answer(request, name) {
    const cache = await caches.open(kCache);
    const key = name === '' ? './' : name;
    try {
        const response = await fetch(request);
        if (response.ok) await cache.put(key, response.clone());
        return response;
    } catch (error) {
        const kept = await cache.match(key);
        if (kept) return kept;
        throw error;
    }
}

self.addEventListener('fetch', (event) => {
    const name = pageFile(event.request);
    if (name !== null) event.respondWith(answer(event.request, name));
});
