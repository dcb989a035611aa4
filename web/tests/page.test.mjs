// The planner's page in Debian's chromium against a vellora-cloud started here; the desktop's side is SyncKit itself
// (web_fixture): it wraps the key the page unwraps, opens what the page sealed and seals what the page must open.
//   node page.test.mjs VELLORA_CLOUD WEB_FIXTURE VELLORA
import assert from 'node:assert/strict';
import { readdir, readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { gunzipSync } from 'node:zlib';
import { axeFindings, boxOf, dragBy, fileAnswer, fixture, kPassphrase, kWait, newAccount, run, runCases, saveFromDesktop,
    serverRecords, sheetOf, signIn, taskInput, waitForSheet, waitForSynced, waitForTask } from './harness.mjs';

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

    const second = await browser.newContext({ viewport: { width: 360, height: 740 }, colorScheme: 'dark', hasTouch: true });
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

    // Both pages show the same, once synced.
    const bothShow = async (expected) => {
        await waitForSheet(page, expected);
        await waitForSheet(other, expected);
    };

    test('steps up and down and a drag across blocks reach the other page', async () => {
        await bothShow(['big:Feed the quokkas', 'medium:Water the ferns']);
        await page.getByLabel('Task: Water the ferns').focus();
        await page.keyboard.press('Alt+ArrowUp');
        await bothShow(['big:Water the ferns', 'medium:Feed the quokkas']);
        // The keyboard stays with the task: the next step moves it on, here back.
        assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Task: Water the ferns');
        await page.keyboard.press('Alt+ArrowDown');
        await bothShow(['big:Feed the quokkas', 'medium:Water the ferns']);
        // Rows fill from the top: a step onto an empty row of the same block changes nothing.
        await page.getByLabel('Move down: Water the ferns').click();
        await page.getByLabel('Move down: Feed the quokkas').click();
        await bothShow(['big:Water the ferns', 'medium:Feed the quokkas']);
        const task = (title) => `[aria-label="Task: ${title}"]`;
        const from = await boxOf(page, task('Feed the quokkas'));
        const to = await boxOf(page, '.small li:nth-child(2)');
        await dragBy(page, task('Feed the quokkas'), 0, to.y - from.y, {
            during: async () => assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('.drop-target')]
                .map((row) => `${row.closest('section').classList[1]} ${row.dataset.row}`)), ['small 1']),
        });
        await bothShow(['big:Water the ferns', 'small:Feed the quokkas']);
        // A drag of a task onto another's row swaps the two, across blocks.
        const big = await boxOf(page, task('Water the ferns'));
        const small = await boxOf(page, task('Feed the quokkas'));
        await dragBy(page, task('Feed the quokkas'), 0, big.y - small.y);
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns']);
    });

    test('on a touch screen a swipe right ticks, a short one springs back, left deletes; Undo brings it back', async () => {
        const row = '[aria-label="Task: Water the ferns"]';
        await other.getByRole('button', { name: 'Today' }).click();
        await dragBy(other, row, 90, 0, { touch: true });
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns ✓']);
        for (const dx of [-50, 50]) {
            await dragBy(other, row, dx, 0, { touch: true });
            assert.deepEqual(await sheetOf(other), ['big:Feed the quokkas', 'small:Water the ferns ✓'], `${dx}`);
        }
        await dragBy(other, row, -90, 0, { touch: true });
        await other.getByText('Deleted “Water the ferns”.').waitFor({ timeout: kWait });
        // The delete has reached the server before it is undone.
        await bothShow(['big:Feed the quokkas']);
        await other.getByRole('button', { name: 'Undo' }).click();
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns ✓']);
        // A quick stroke up or down scrolls and moves nothing; a finger that rests first lifts the task.
        await dragBy(other, '[aria-label="Task: Feed the quokkas"]', 0, 200, { touch: true });
        assert.deepEqual(await sheetOf(other), ['big:Feed the quokkas', 'small:Water the ferns ✓']);
        const from = await boxOf(other, row);
        const to = await boxOf(other, '.medium li:nth-child(1)');
        await dragBy(other, row, 0, to.y - from.y, { touch: true, hold: 500 });
        await bothShow(['big:Feed the quokkas', 'medium:Water the ferns ✓']);
        const back = await boxOf(other, '.small li:nth-child(1)');
        await dragBy(other, row, 0, back.y - (await boxOf(other, row)).y, { touch: true, hold: 500 });
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns ✓']);
    });

    test('a new day and a delete, each undone, reach the other page', async () => {
        await page.getByRole('button', { name: 'Start a new day' }).click();
        await page.getByText('Started a new day.').waitFor({ timeout: kWait });
        // The unfinished task waits in the Backlog; the done one is gone.
        await bothShow(['backlog:Feed the quokkas']);
        await page.getByRole('button', { name: 'Undo' }).click();
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns ✓']);
        // An emptied text deletes, with Undo too.
        await page.getByLabel('Task: Feed the quokkas').fill('');
        await page.getByLabel('Task: Feed the quokkas').press('Enter');
        await page.getByText('Deleted “Feed the quokkas”.').waitFor({ timeout: kWait });
        await bothShow(['small:Water the ferns ✓']);
        await page.getByRole('button', { name: 'Undo' }).click();
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns ✓']);
    });

    test('Undo of a new day keeps a task changed elsewhere since, and brings back the rest', async () => {
        await page.getByRole('button', { name: 'Start a new day' }).click();
        await bothShow(['backlog:Feed the quokkas']);
        // The note stays while its button has the focus.
        await page.getByRole('button', { name: 'Undo' }).focus();
        await other.getByRole('button', { name: 'Backlog (1)' }).click();
        await other.getByLabel('Bring back to Today: Feed the quokkas').click();
        await waitForSheet(page, ['big:Feed the quokkas']);
        await page.keyboard.press('Enter');
        await page.getByText('New day undone; kept as changed elsewhere: “Feed the quokkas”.').waitFor({ timeout: kWait });
        await bothShow(['big:Feed the quokkas', 'small:Water the ferns ✓']);
        await other.getByRole('button', { name: 'Today' }).click();
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
        // Past Move up and Move down: Send to the Backlog.
        for (let i = 0; i < 3; ++i) await page.keyboard.press('Tab');
        await page.keyboard.press('Enter');
        await page.getByRole('button', { name: 'Backlog (1)' }).focus();
        await page.keyboard.press('Enter');
        // Past the new day, Sign out, the row's tick and its text: its button that brings it back.
        for (let i = 0; i < 5; ++i) await page.keyboard.press('Tab');
        await page.keyboard.press('Enter');
        await page.getByText('The Backlog is empty.').waitFor({ timeout: kWait });
        await page.getByRole('button', { name: 'Today' }).focus();
        await page.keyboard.press('Enter');
        const sheet = ['big:Feed the quokkas', 'small:Water the ferns ✓', 'small:Sharpen pencils'];
        await waitForSheet(page, sheet);
        // A delete and a new day, each taken back by Ctrl+Z while their note shows.
        await page.getByLabel('Delete: Sharpen pencils').focus();
        await page.keyboard.press('Enter');
        await waitForSheet(page, ['big:Feed the quokkas', 'small:Water the ferns ✓']);
        await page.keyboard.press('Control+z');
        await waitForSheet(page, sheet);
        await page.getByRole('button', { name: 'Start a new day' }).focus();
        await page.keyboard.press('Enter');
        await waitForSheet(page, ['backlog:Feed the quokkas', 'backlog:Sharpen pencils']);
        await page.keyboard.press('Control+z');
        await bothShow(sheet);
    });

    test('no serious or critical accessibility findings, phone and desktop, light and dark', async () => {
        // With the Undo note showing; its button holds it while it has the focus, and takes the delete back.
        await page.getByLabel('Delete: Sharpen pencils').click();
        await page.getByRole('button', { name: 'Undo' }).focus();
        for (const [width, height] of [[360, 740], [1280, 800]]) {
            for (const colorScheme of ['light', 'dark']) {
                await page.setViewportSize({ width, height });
                await page.emulateMedia({ colorScheme });
                assert.deepEqual(await axeFindings(page), [], `${width}x${height} ${colorScheme}`);
            }
        }
        await page.keyboard.press('Enter');
        await waitForSheet(page, ['big:Feed the quokkas', 'small:Water the ferns ✓', 'small:Sharpen pencils']);
        await other.getByRole('button', { name: 'Backlog (0)' }).click();
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
