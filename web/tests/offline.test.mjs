// The page on its own: a new day when it opens on a later date, and use without a network, from the files its
// service worker kept and the copy in IndexedDB, until what was changed meanwhile reaches the server.
//   node offline.test.mjs VELLORA_CLOUD WEB_FIXTURE VELLORA
import assert from 'node:assert/strict';
import { kWait, newAccount, kPassphrase, runCases, saveFromDesktop, signIn, waitForSheet, waitForSynced } from './harness.mjs';

// A desktop's task fields: its day, block and tick.
const desktopTask = ({ day, bucket, done = false }) => ({ day: { type: 'text', value: day },
    bucket: { type: 'text', value: bucket }, done: { type: 'int64', value: done ? '1' : '0' } });
const dayKey = (time) => [time.getFullYear(), time.getMonth() + 1, time.getDate()]
    .map((n, i) => String(n).padStart(i ? 2 : 4, '0')).join('-');

await runCases(async ({ base, data, browser, test, stopServer, restartServer }) => {
    const { token, secondToken, key } = await newAccount(base, data, 'ana');
    const now = new Date();
    const yesterday = new Date(now.getFullYear(), now.getMonth(), now.getDate() - 1, 12);
    const phone = await browser.newContext({ viewport: { width: 360, height: 740 } });
    const page = await phone.newPage();
    const desk = await (await browser.newContext({ viewport: { width: 1280, height: 800 } })).newPage();
    const errors = [];
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));

    test('the page files are served for the service worker and the home screen', async () => {
        const cases = [
            ['sw.js', 'text/javascript; charset=utf-8'],
            ['manifest.webmanifest', 'application/manifest+json'],
            ['icon-512.png', 'image/png'],
        ];
        for (const [name, type] of cases) {
            const response = await fetch(base + name);
            assert.equal(response.status, 200, name);
            assert.equal(response.headers.get('content-type'), type, name);
            assert.equal(response.headers.get('cache-control'), 'no-cache', name);
            assert.ok(response.headers.get('etag'), name);
        }
        const manifest = await (await fetch(`${base}manifest.webmanifest`)).json();
        for (const icon of manifest.icons) assert.equal((await fetch(base + icon.src)).status, 200, icon.src);
        const worker = await (await fetch(`${base}sw.js`)).text();
        assert.doesNotMatch(worker, /'unbuilt'/);
        assert.match(worker, /"app\.js"/);
    });

    test('a page opened on a later date starts a new day, which reaches the other devices', async () => {
        await phone.clock.setSystemTime(yesterday);
        await signIn(page, base, 'ana', token, kPassphrase);
        await waitForSynced(page); // the zone is made
        const day = dayKey(yesterday);
        await saveFromDesktop(base, token, key, 'D35K70P-0101', 'Post the letter', desktopTask({ day, bucket: '1' }));
        await saveFromDesktop(base, token, key, 'D35K70P-0102', 'Fix the gate',
            desktopTask({ day, bucket: '5', done: true }));
        await waitForSheet(page, ['big:Post the letter', 'small:Fix the gate ✓']);
        await waitForSynced(page);
        await phone.clock.setSystemTime(new Date());
        await page.reload();
        const newDay = ['backlog:Post the letter'];
        await waitForSheet(page, newDay);
        await signIn(desk, base, 'ana', secondToken, kPassphrase);
        await waitForSheet(desk, newDay);
        // Only once: opened again the same day, the page changes nothing.
        await desk.getByRole('button', { name: 'Backlog (1)' }).click();
        await desk.getByLabel('Bring back to Today: Post the letter').click();
        await waitForSheet(page, ['big:Post the letter']);
        await page.reload();
        await waitForSheet(page, ['big:Post the letter']);
    });

    test('offline, the page opens from its service worker with its tasks, and what is done there reaches the server', async () => {
        await page.waitForFunction(() => navigator.serviceWorker.controller !== null, null, { timeout: kWait });
        await waitForSynced(page);
        await phone.setOffline(true);
        await page.reload();
        await waitForSheet(page, ['big:Post the letter']);
        await page.getByLabel('Done: Post the letter').click();
        const row = page.getByLabel('New small task').first();
        await row.fill('Buy stamps');
        await row.press('Enter');
        await page.getByText('Offline').waitFor({ timeout: kWait });
        // The page reloaded once more still offline keeps what was done.
        await page.reload();
        const offline = ['big:Post the letter ✓', 'small:Buy stamps'];
        await waitForSheet(page, offline);
        // The page's files are kept, never an answer of the API.
        const kept = await page.evaluate(async () => (await Promise.all((await caches.keys()).map(async (name) =>
            (await (await caches.open(name)).keys()).map((request) => new URL(request.url).pathname)))).flat());
        assert.ok(kept.includes('/') && kept.includes('/app.js') && kept.includes('/caveat.ttf'), kept.join(' '));
        assert.deepEqual(kept.filter((path) => path.startsWith('/v1/')), []);
        await phone.setOffline(false);
        await waitForSheet(desk, offline);
        await waitForSynced(page);
    });

    test('changes made while the server is down reach it once it is back', async () => {
        await stopServer();
        await page.getByLabel('Task: Buy stamps').fill('Buy stamps and envelopes');
        await page.getByLabel('Task: Buy stamps').press('Enter');
        await page.getByLabel('Delete: Post the letter').click();
        await page.reload();
        const changed = ['small:Buy stamps and envelopes'];
        await waitForSheet(page, changed);
        await restartServer();
        await waitForSheet(desk, changed);
        await waitForSynced(page);
    });

    test('a block filled on two devices at once keeps its first task; the other waits at the top of the Backlog', async () => {
        await desk.getByRole('button', { name: 'Today' }).click();
        await saveFromDesktop(base, token, key, 'D35K70P-0103', 'Paint the fence',
            desktopTask({ bucket: '1', day: dayKey(new Date()) }));
        await saveFromDesktop(base, token, key, 'D35K70P-0104', 'Mend the roof',
            desktopTask({ bucket: '1', day: dayKey(new Date()) }));
        const settled = ['big:Paint the fence', 'small:Buy stamps and envelopes', 'backlog:Mend the roof'];
        await waitForSheet(page, settled);
        await waitForSheet(desk, settled);
    });

    test('the page logged no errors', async () => {
        assert.deepEqual(errors.filter((text) => !/ERR_INTERNET_DISCONNECTED|ERR_CONNECTION_REFUSED|WebSocket/.test(text)),
            []);
    });
});
