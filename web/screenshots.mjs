// PNGs of the page beside the desktop's: the sign-in, Today (one task ticked) and the Backlog (one task greyed), at
// a phone's 360×740 and a desktop's 1280×800, light and dark, from a vellora-cloud started here in a temporary
// folder. Each is taken once the handwriting face is loaded.
//   node web/screenshots.mjs VELLORA_CLOUD WEB_FIXTURE OUTPUT_DIR
import { mkdir, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { api, browserPath, kPassphrase, kWait, launchBrowser, newAccount, saveFromDesktop, signIn, startServer,
    waitForSynced, waitForTask, zone } from './tests/harness.mjs';

const output = process.argv[4];
const kTasks = [
    ['Finish the quarterly report', 1, false],
    ['Call the plumber about the kitchen sink', 3, true],
    ['Write the long letter to grandmother about the summer trip, the garden and the new kitten', 3, false],
    ['Book the dentist', 3, false],
    ['Water the plants', 5, true],
    ['Buy milk', 5, false],
    ['Reply to Anna', 5, false],
    // In the Backlog: the big one waits greyed, its block being full.
    ['Plan the holiday', 1, false, 'open'],
    ['Fix the squeaky door', 5, false, 'open'],
    ['Learn the bread recipe', 5, false, 'open'],
];

// The shot waits for the handwriting face: a shot in the system face would show a look no one sees for long.
async function shoot(page, name) {
    const loaded = await page.evaluate(async () => {
        await document.fonts.ready;
        return document.fonts.check('24px Caveat');
    });
    if (!loaded) throw new Error(`${name}: the handwriting face did not load`);
    const path = join(output, `${name}.png`);
    await page.screenshot({ path, fullPage: true });
    console.log(`wrote ${path}`);
}

if (!browserPath || !output) {
    console.error(browserPath ? 'usage: node web/screenshots.mjs VELLORA_CLOUD WEB_FIXTURE OUTPUT_DIR'
        : 'no chromium on this machine: the page\'s screenshots are not taken (scripts/install-deps installs it)');
    process.exit(browserPath ? 2 : 0);
}
await mkdir(output, { recursive: true });
const data = await mkdtemp(join(tmpdir(), 'vellora-shots-'));
const { server, base } = await startServer(data);
let browser = null;
try {
    const { token, key } = await newAccount(base, data, 'ana');
    await api(base, token, 'v1/zones/modify', { saves: [zone], deletes: [] });
    const start = Date.now() - kTasks.length * 60000;
    for (const [index, [title, block, done, day]] of kTasks.entries()) {
        await saveFromDesktop(base, token, key, `SHOT-${index}`, title, {
            bucket: { type: 'text', value: String(block) }, done: { type: 'int64', value: done ? '1' : '0' },
            modifiedAt: { type: 'date', value: new Date(start + index * 60000).toISOString() },
            ...(day ? { day: { type: 'text', value: day } } : {}),
        });
    }
    browser = await launchBrowser();
    for (const [width, height] of [[360, 740], [1280, 800]]) {
        for (const colorScheme of ['light', 'dark']) {
            const suffix = `${colorScheme}-${width}x${height}`;
            const context = await browser.newContext({ viewport: { width, height }, colorScheme });
            const page = await context.newPage();
            await page.goto(base);
            await page.getByLabel('User name').waitFor({ timeout: kWait });
            await shoot(page, `web-sign-in-${suffix}`);
            await signIn(page, base, 'ana', token, kPassphrase);
            await waitForTask(page, kTasks[0][0]);
            await waitForSynced(page);
            await shoot(page, `web-today-${suffix}`);
            await page.getByRole('button', { name: /^Backlog/ }).click();
            await shoot(page, `web-backlog-${suffix}`);
            await context.close();
        }
    }
} finally {
    await browser?.close();
    server.kill('SIGTERM');
    await new Promise((resolve) => server.once('exit', resolve));
    await rm(data, { recursive: true, force: true });
}
