// The planner's page in Debian's chromium against a vellora-cloud started here; the desktop's side is SyncKit itself
// (web_fixture): it wraps the key the page unwraps, opens what the page sealed and seals what the page must open.
//   node page.test.mjs VELLORA_CLOUD WEB_FIXTURE VELLORA
import assert from 'node:assert/strict';
import { readdir, readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { gunzipSync } from 'node:zlib';
import { axeFindings, fileAnswer, fixture, kPassphrase, kWait, newAccount, run, runCases, saveFromDesktop, serverRecords, signIn,
    taskInput, waitForSynced, waitForTask } from './harness.mjs';

await runCases(async ({ base, data, browser, test }) => {
    const { token, secondToken, key } = await newAccount(base, data, 'ana');
    const first = await browser.newContext({ viewport: { width: 1280, height: 800 } });
    const page = await first.newPage();
    const errors = [];
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));

    test('the page is served with a strict policy and revalidated', async () => {
        const response = await fetch(base);
        assert.equal(response.status, 200);
        const policy = response.headers.get('content-security-policy');
        assert.match(policy, /default-src 'none'/);
        assert.match(policy, /script-src 'self' 'wasm-unsafe-eval';/);
        assert.equal(response.headers.get('x-content-type-options'), 'nosniff');
        const again = await fetch(base, { headers: { 'If-None-Match': response.headers.get('etag') } });
        assert.equal(again.status, 304);
        assert.equal((await fetch(`${base}caveat.ttf`)).headers.get('content-type'), 'font/ttf');
        assert.equal((await fetch(`${base}missing.js`)).status, 404);
    });

    test('the files go gzip-compressed to a client that accepts it, plain to one that does not, each revalidated', async () => {
        const plain = await fileAnswer(base, 'app.js', {});
        assert.equal(plain.headers['content-encoding'], undefined);
        const cases = [
            { accept: 'gzip, deflate, br', gzip: true },
            { accept: 'deflate, gzip;q=0.5', gzip: true },
            { accept: 'gzip;q=0, *', gzip: false },
            { accept: '*', gzip: true },
            { accept: 'identity', gzip: false },
            { accept: undefined, gzip: false },
        ];
        const tags = new Set();
        for (const { accept, gzip } of cases) {
            const headers = accept ? { 'Accept-Encoding': accept } : {};
            const answer = await fileAnswer(base, 'app.js', headers);
            assert.equal(answer.status, 200, accept);
            assert.equal(answer.headers.vary, 'Accept-Encoding', accept);
            assert.equal(answer.headers['content-encoding'], gzip ? 'gzip' : undefined, accept);
            assert.deepEqual(gzip ? gunzipSync(answer.body) : answer.body, plain.body, accept);
            tags.add(answer.headers.etag);
            const again = await fileAnswer(base, 'app.js', { ...headers, 'If-None-Match': answer.headers.etag });
            assert.equal(again.status, 304, accept);
            assert.equal(again.headers['content-encoding'], gzip ? 'gzip' : undefined, accept);
        }
        assert.equal(tags.size, 2, 'one tag per encoding');
        // The other encoding's tag is not this one's: the file comes whole.
        const gzipped = await fileAnswer(base, 'app.js', { 'Accept-Encoding': 'gzip' });
        assert.equal((await fileAnswer(base, 'app.js', { 'If-None-Match': gzipped.headers.etag })).status, 200);
    });

    test('a wrong passphrase is said in words and nothing is kept', async () => {
        await signIn(page, base, 'ana', token, 'not the passphrase');
        await page.getByText('that is not the sync passphrase of this account').waitFor({ timeout: kWait });
        await page.reload();
        await page.getByLabel('User name').waitFor({ timeout: kWait });
        assert.equal(await page.locator('#planner').isHidden(), true);
    });

    test('a token of another user is refused', async () => {
        await signIn(page, base, 'bob', token, kPassphrase);
        await page.getByText('this token is not bob’s').waitFor({ timeout: kWait });
    });

    test('a task added on the page reaches the server sealed, and the desktop opens it', async () => {
        await signIn(page, base, 'ana', token, kPassphrase);
        const row = page.getByLabel('New big task');
        await row.fill('Feed the quokkas');
        await row.press('Enter');
        await waitForTask(page, 'Feed the quokkas');
        await waitForSynced(page);
        const records = await serverRecords(base, token);
        assert.equal(records.length, 1);
        const opened = JSON.parse(await run(fixture, ['open', key, 'save'], JSON.stringify(records[0])));
        assert.equal(opened.fields.title.value, 'Feed the quokkas');
        assert.equal(opened.fields.bucket.value, '1');
        for (const name of await readdir(data, { recursive: true })) {
            const bytes = await readFile(join(data, name)).catch(() => Buffer.alloc(0));
            assert.equal(bytes.includes('quokka'), false, `${name} holds the title`);
        }
    });

    test('a task sealed on the desktop reaches the open page by a push', async () => {
        await saveFromDesktop(base, token, key, 'D35K70P-0001', 'Call the wombat vet');
        await waitForTask(page, 'Call the wombat vet');
    });

    const second = await browser.newContext({ viewport: { width: 360, height: 740 }, colorScheme: 'dark' });
    const other = await second.newPage();

    test('a second page sees the tasks, and its tick, edit and move reach the first', async () => {
        await signIn(other, base, 'ana', secondToken, kPassphrase);
        await waitForTask(other, 'Feed the quokkas');
        await other.getByLabel('Done: Feed the quokkas').click();
        await page.waitForFunction(() => document.querySelector('input[aria-label="Done: Feed the quokkas"]')?.checked,
            null, { timeout: kWait });
        const title = other.getByLabel('Task: Call the wombat vet');
        await title.fill('Call the wombat vet at nine');
        await title.press('Enter');
        await waitForTask(page, 'Call the wombat vet at nine');
        await other.getByLabel('Send to the Backlog: Call the wombat vet at nine').click();
        await page.getByRole('button', { name: 'Backlog (1)' }).waitFor({ timeout: kWait });
    });

    test('edits made on two pages at once merge part by part', async () => {
        // The first page ticks while the second, not yet told, renames: both stay.
        await page.getByRole('button', { name: 'Backlog (1)' }).click();
        await other.context().setOffline(true);
        await other.getByRole('button', { name: 'Backlog (1)' }).click();
        const title = other.getByLabel('Task: Call the wombat vet at nine');
        await title.fill('Call the wombat vet at ten');
        await title.press('Enter');
        await page.getByLabel('Done: Call the wombat vet at nine').click();
        await waitForSynced(page);
        await other.context().setOffline(false);
        await other.evaluate(() => window.dispatchEvent(new Event('online')));
        await waitForTask(page, 'Call the wombat vet at ten');
        await page.waitForFunction(() => document.querySelector('input[aria-label="Done: Call the wombat vet at ten"]')
            ?.checked, null, { timeout: kWait });
    });

    test('a delete and a bring-back reach the other page', async () => {
        await other.getByLabel('Delete: Call the wombat vet at ten').click();
        await page.getByText('The Backlog is empty.').waitFor({ timeout: kWait });
        await page.getByRole('button', { name: 'Today' }).click();
        await page.getByLabel('Send to the Backlog: Feed the quokkas').click();
        await other.getByLabel('Bring back to Today: Feed the quokkas').click();
        await page.getByLabel('Send to the Backlog: Feed the quokkas').waitFor({ timeout: kWait });
    });

    test('a record sealed with another key is not shown, said, and the rest syncs', async () => {
        const stranger = JSON.parse(await run(fixture, ['wrap', kPassphrase])).key;
        await saveFromDesktop(base, token, stranger, 'D35K70P-0002', 'A stranger task');
        await saveFromDesktop(base, token, key, 'D35K70P-0003', 'Water the ferns');
        await waitForTask(page, 'Water the ferns');
        await page.getByText('1 task could not be opened').waitFor({ timeout: kWait });
        assert.equal(await taskInput(page, 'A stranger task').count(), 0);
    });

    test('every action works from the keyboard alone', async () => {
        await page.getByLabel('New small task').first().focus();
        await page.keyboard.type('Sharpen pencils');
        await page.keyboard.press('Enter');
        await waitForTask(page, 'Sharpen pencils');
        await page.getByLabel('Task: Sharpen pencils').focus();
        await page.keyboard.press('Shift+Tab');
        await page.keyboard.press('Space');
        assert.equal(await page.getByLabel('Done: Sharpen pencils').isChecked(), true);
        await page.getByLabel('Task: Sharpen pencils').focus();
        await page.keyboard.press('Tab');
        await page.keyboard.press('Enter');
        await page.getByRole('button', { name: 'Backlog (1)' }).focus();
        await page.keyboard.press('Enter');
        // Past Sign out, the row's tick and its text: its button that brings it back.
        for (let i = 0; i < 4; ++i) await page.keyboard.press('Tab');
        await page.keyboard.press('Enter');
        await page.getByText('The Backlog is empty.').waitFor({ timeout: kWait });
        await page.getByRole('button', { name: 'Today' }).click();
    });

    test('no serious or critical accessibility findings, phone and desktop, light and dark', async () => {
        for (const [width, height] of [[360, 740], [1280, 800]]) {
            for (const colorScheme of ['light', 'dark']) {
                await page.setViewportSize({ width, height });
                await page.emulateMedia({ colorScheme });
                assert.deepEqual(await axeFindings(page), [], `${width}x${height} ${colorScheme}`);
            }
        }
        assert.deepEqual(await axeFindings(other), [], 'the Backlog at 360x740, dark');
        const signInPage = await second.newPage();
        await signInPage.goto(base);
        // The same origin's copy: the second page's account shows the planner, so look at a fresh context.
        const fresh = await browser.newContext({ viewport: { width: 360, height: 740 } });
        const blank = await fresh.newPage();
        await blank.goto(base);
        await blank.getByLabel('User name').waitFor({ timeout: kWait });
        assert.deepEqual(await axeFindings(blank), [], 'the sign-in');
        await fresh.close();
    });

    test('signing out forgets the account and the tasks', async () => {
        await other.getByRole('button', { name: 'Sign out' }).click();
        await other.getByText('Signed out').waitFor({ timeout: kWait });
        await other.reload();
        await other.getByLabel('User name').waitFor({ timeout: kWait });
        assert.equal(await taskInput(other, 'Feed the quokkas').count(), 0);
    });

    test('the page logged no errors', async () => {
        assert.deepEqual(errors.filter((text) => !text.includes('ERR_INTERNET_DISCONNECTED')), []);
    });

});
