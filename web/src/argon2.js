// The worker that derives the key of a key box from the passphrase, off the page's thread: Argon2id takes half a
// second and 256 MiB, and the page stays responsive meanwhile. Asked once, it answers once and is ended.
import { deriveKey, ready } from './seal.js';

self.addEventListener('message', async ({ data }) => {
    try {
        await ready();
        const derived = deriveKey(data.passphrase, data);
        self.postMessage({ derived }, [derived.buffer]);
    } catch (error) {
        self.postMessage({ error: String(error?.message ?? error) });
    }
});
