// The page beside a real desktop: the vellora command on a store of its own signs in first (it makes the account's
// key), the page signs in with the same passphrase, and every change made on one side reaches the other, also one
// made on the page while the server was down.
//   node desktop.test.mjs VELLORA_CLOUD WEB_FIXTURE VELLORA
import assert from 'node:assert/strict';
import { cloudBinary, kPassphrase, kWait, newDesktop, run, runCases, signIn, waitForSynced,
    waitForTask } from './harness.mjs';

// The rows as the page shows them: each block of Today and the Backlog, in order, a title with ✓ when ticked.
function pageRows(page) {
    return page.evaluate(() => {
        const titles = (selector) => [...document.querySelectorAll(`${selector} li:not(.empty)`)].map((row) =>
            row.querySelector('input.title').value + (row.querySelector('input.tick')?.checked ? ' ✓' : ''));
        return { big: titles('#today .big'), medium: titles('#today .medium'), small: titles('#today .small'),
            backlog: titles('#backlog') };
    });
}

// The same from the desktop's store, after a sync.
async function desktopRows(desktop) {
    await desktop.run(['sync']);
    const today = await desktop.json(['today']);
    const backlog = await desktop.json(['backlog']);
    const shown = (item) => item.title + (item.done ? ' ✓' : '');
    const inBlock = (bucket) => today.items.filter((item) => item.bucket === bucket).map(shown);
    return { big: inBlock('big'), medium: inBlock('medium'), small: inBlock('small'), backlog: backlog.items.map(shown),
        ids: Object.fromEntries([...today.items, ...backlog.items].map((item) => [item.title, item.id])) };
}

// Until the page shows these rows (a push, not a reload, brings them).
async function pageShows(page, rows, timeout = kWait) {
    const deadline = Date.now() + timeout;
    for (;;) {
        const shown = await pageRows(page);
        try {
            assert.deepEqual(shown, rows);
            return;
        } catch (error) {
            if (Date.now() > deadline) throw error;
        }
        await page.waitForTimeout(100);
    }
}

// The Backlog's order after a new day follows times made on two machines: compared as a set.
async function desktopShowsInAnyBacklogOrder(desktop, rows) {
    const { ids: _, ...shown } = await desktopRows(desktop);
    assert.deepEqual({ ...shown, backlog: [...shown.backlog].sort() }, { ...rows, backlog: [...rows.backlog].sort() });
    return shown;
}

async function desktopShows(desktop, rows) {
    const { ids, ...shown } = await desktopRows(desktop);
    assert.deepEqual(shown, rows);
    return ids;
}

async function typeInto(input, text) {
    await input.fill(text);
    await input.press('Enter');
}

await runCases(async ({ base, data, browser, test, folder, stopServer, restartServer }) => {
    const token = (await run(cloudBinary, ['user', 'add', 'ana', '--data', data])).trim();
    const pageToken = (await run(cloudBinary, ['user', 'add', 'ana', '--data', data])).trim();
    const desktop = await newDesktop(folder);
    const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
    const page = await context.newPage();
    const errors = [];
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
    let ids = {};

    test('the desktop signs in first, and the page opens its key with the same passphrase', async () => {
        await desktop.run(['add', 'Write the quarterly report', '--block', 'big']);
        await desktop.signIn(base, 'ana', token, kPassphrase);
        await desktop.run(['sync']);
        await signIn(page, base, 'ana', pageToken, kPassphrase);
        await waitForTask(page, 'Write the quarterly report');
        await waitForSynced(page);
    });

    test('tasks added on the desktop appear on the open page without a reload', async () => {
        await desktop.run(['add', 'Call Anna', '--block', 'medium']);
        await desktop.run(['add', 'Book the ferry', '--block', 'medium']);
        await desktop.run(['sync']);
        await pageShows(page, { big: ['Write the quarterly report'], medium: ['Call Anna', 'Book the ferry'], small: [],
            backlog: [] });
    });

    test('a task added on the page reaches the desktop’s store', async () => {
        await typeInto(page.getByLabel('New small task').first(), 'Buy stamps');
        await waitForSynced(page);
        ids = await desktopShows(desktop, { big: ['Write the quarterly report'], medium: ['Call Anna', 'Book the ferry'],
            small: ['Buy stamps'], backlog: [] });
    });

    test('an edit, a tick and steps up and down on the desktop reach the page', async () => {
        await desktop.run(['edit', ids['Write the quarterly report'], 'Write the annual report']);
        // A tick is a change of the item: it goes to the end of its block.
        await desktop.run(['done', ids['Call Anna']]);
        await desktop.run(['up', ids['Call Anna']]);
        await desktop.run(['up', ids['Buy stamps']]);
        await desktop.run(['down', ids['Book the ferry']]);
        await desktop.run(['sync']);
        await pageShows(page, { big: ['Write the annual report'], medium: ['Call Anna ✓', 'Buy stamps', 'Book the ferry'],
            small: [], backlog: [] });
    });

    test('an edit, a tick, the Backlog both ways and a delete on the page reach the desktop', async () => {
        await typeInto(page.getByLabel('Task: Buy stamps'), 'Buy stamps and envelopes');
        await page.getByLabel('Done: Book the ferry').click();
        await page.getByLabel('Send to the Backlog: Write the annual report').click();
        await typeInto(page.getByLabel('New small task').first(), 'Water the ferns');
        await page.getByLabel('Send to the Backlog: Water the ferns').click();
        await page.getByRole('button', { name: 'Backlog (2)' }).click();
        await page.getByLabel('Bring back to Today: Water the ferns').click();
        await page.getByRole('button', { name: 'Today', exact: true }).click();
        await page.getByLabel('Delete: Call Anna').click();
        await waitForSynced(page);
        ids = await desktopShows(desktop, { big: [], medium: ['Buy stamps and envelopes', 'Book the ferry ✓'],
            small: ['Water the ferns'], backlog: ['Write the annual report'] });
    });

    test('the Backlog both ways on the desktop reaches the page: a bring, and a task for a full block', async () => {
        await desktop.run(['bring', ids['Write the annual report']]);
        await desktop.run(['add', 'Plan the garden', '--block', 'big']);
        await desktop.run(['sync']);
        await pageShows(page, { big: ['Write the annual report'], medium: ['Buy stamps and envelopes', 'Book the ferry ✓'],
            small: ['Water the ferns'], backlog: ['Plan the garden'] });
        // Greyed, as on the desktop: its block has no free row.
        await page.getByRole('button', { name: 'Backlog (1)' }).click();
        assert.equal(await page.getByLabel('Bring back to Today: Plan the garden').isDisabled(), true);
        await page.getByRole('button', { name: 'Today', exact: true }).click();
    });

    test('a new day on the desktop reaches the page: the unfinished wait in the Backlog, the done are gone', async () => {
        await desktop.run(['new-day']);
        const rows = await desktopShowsInAnyBacklogOrder(desktop, { big: [], medium: [], small: [], backlog:
            ['Buy stamps and envelopes', 'Plan the garden', 'Water the ferns', 'Write the annual report'] });
        await pageShows(page, rows);
        await page.getByText('0 items').waitFor({ timeout: kWait });
    });

    test('offline, the page keeps its changes and sends them by itself when the server is back; nothing is lost',
        async () => {
            await typeInto(page.getByLabel('New big task'), 'Cycle to the lake');
            await waitForSynced(page);
            await stopServer();
            await typeInto(page.getByLabel('New medium task').first(), 'Mend the fence');
            await page.getByText('Offline').waitFor({ timeout: kWait });
            await typeInto(page.getByLabel('New small task').first(), 'Post the letters');
            await page.getByLabel('Done: Cycle to the lake').click();
            await typeInto(page.getByLabel('Task: Mend the fence'), 'Mend the garden fence');
            await page.getByLabel('Delete: Post the letters').click();
            await page.getByRole('button', { name: 'Backlog (4)' }).click();
            await page.getByLabel('Bring back to Today: Buy stamps and envelopes').click();
            await page.getByRole('button', { name: 'Today', exact: true }).click();
            assert.match(await page.locator('#sync-status').textContent(), /^Offline/);
            await restartServer();
            // The page retries on its own: no reload, no click.
            await waitForSynced(page, 60000);
            await desktopShowsInAnyBacklogOrder(desktop, { big: ['Cycle to the lake ✓'],
                medium: ['Mend the garden fence', 'Buy stamps and envelopes'], small: [],
                backlog: ['Plan the garden', 'Water the ferns', 'Write the annual report'] });
        });

    test('the page logged no errors', async () => {
        assert.deepEqual(errors.filter((text) => !text.includes('ERR_CONNECTION_REFUSED')), []);
    });
});
