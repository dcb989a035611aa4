// The one-time sign-in link in Debian's chromium against a vellora-cloud started here: the code traded for a token of
// the browser's own, the key opened by the passphrase or the recovery key, and every way it is refused, in words.
//   node link.test.mjs VELLORA_CLOUD WEB_FIXTURE VELLORA
import assert from 'node:assert/strict';
import { api, cloudBinary, fixture, kPassphrase, kWait, newAccount, newLinkCode, run, runCases, saveFromDesktop,
    waitForSynced, waitForTask, zone } from './harness.mjs';

const message = (page) => page.locator('#sign-in-message');
const messageSays = (page, words) => page.waitForFunction(
    (w) => document.getElementById('sign-in-message').textContent.includes(w), words, { timeout: kWait });

// The linked tokens of the user as `vellora-cloud token list` shows them: [id, label].
async function linkedTokens(data, user) {
    const listed = await run(cloudBinary, ['token', 'list', user, '--data', data]);
    return listed.split('\n').map((line) => line.split('\t')).filter((columns) => columns[3]?.startsWith('linked '))
        .map((columns) => [columns[1], columns[3]]);
}

await runCases(async ({ base, data, browser, test, stopServer, restartServer }) => {
    const { token, key } = await newAccount(base, data, 'ana');
    await api(base, token, 'v1/zones/modify', { saves: [zone], deletes: [] });
    await saveFromDesktop(base, token, key, 'desk-1', 'Water the ferns');
    const context = await browser.newContext({ viewport: { width: 360, height: 740 } });
    const page = await context.newPage();
    const fresh = async () => (await browser.newContext({ viewport: { width: 360, height: 740 } })).newPage();
    let firstCode;

    test('the link signs in by keyboard alone and leaves the address without its code', async () => {
        firstCode = await newLinkCode(base, token);
        await page.goto(`${base}#link=${firstCode}`);
        await page.getByLabel('Sync passphrase').waitFor({ timeout: kWait });
        assert.equal(new URL(page.url()).hash, '', 'the code stays in the address');
        assert.equal(await page.getByLabel('User name').isVisible(), false);
        assert.equal(await page.evaluate(() => document.activeElement.id), 'passphrase');
        await page.keyboard.type(kPassphrase);
        await page.keyboard.press('Enter');
        await waitForTask(page, 'Water the ferns');
        await waitForSynced(page);
        const linked = await linkedTokens(data, 'ana');
        assert.equal(linked.length, 1);
        assert.match(linked[0][1], /^linked Chrome on Linux \d{4}-\d\d-\d\d \d\d:\d\d UTC$/);
    });

    test('the same link used twice is refused in the server’s words, and the usual sign-in is offered', async () => {
        const other = await fresh();
        await other.goto(`${base}#link=${firstCode.toLowerCase()}`);
        await other.getByLabel('Sync passphrase').fill(kPassphrase);
        await other.getByRole('button', { name: 'Sign in' }).click();
        await messageSays(other, 'this sign-in code was already used: ask for a new one');
        await other.getByLabel('User name').waitFor({ timeout: kWait });
        assert.equal((await linkedTokens(data, 'ana')).length, 1);
    });

    test('a wrong passphrase is said in words and the same code then signs in with the right one', async () => {
        const other = await fresh();
        await other.goto(`${base}#link=${await newLinkCode(base, token)}`);
        await other.getByLabel('Sync passphrase').fill('not the passphrase');
        await other.getByRole('button', { name: 'Sign in' }).click();
        await messageSays(other, 'that is not the sync passphrase of this account');
        // Nothing kept yet: a reload finds no account in the browser.
        assert.equal(await other.evaluate(() => new Promise((resolve) => {
            const open = indexedDB.open('vellora', 1);
            open.onsuccess = () => {
                const db = open.result;
                if (!db.objectStoreNames.contains('planner')) return resolve(0);
                const count = db.transaction('planner').objectStore('planner').count();
                count.onsuccess = () => resolve(count.result);
            };
        })), 0);
        await other.getByLabel('Sync passphrase').fill(kPassphrase);
        await other.getByRole('button', { name: 'Sign in' }).click();
        await waitForTask(other, 'Water the ferns');
        assert.equal((await linkedTokens(data, 'ana')).length, 2);
    });

    test('the recovery key opens the account by keyboard, and another key is refused', async () => {
        const other = await fresh();
        await other.goto(`${base}#link=${await newLinkCode(base, token)}`);
        await other.getByLabel('Sync passphrase').waitFor({ timeout: kWait });
        await other.keyboard.press('Tab');
        await other.keyboard.press('Space');
        assert.equal(await other.evaluate(() => document.activeElement.id), 'recovery-key');
        const { key: otherKey } = JSON.parse(await run(fixture, ['wrap', 'another passphrase']));
        await other.keyboard.type((await run(fixture, ['recovery', otherKey])).trim());
        await other.keyboard.press('Enter');
        await messageSays(other, 'that is not the recovery key of this account');
        await other.getByLabel('Recovery key', { exact: true }).fill((await run(fixture, ['recovery', key])).trim().toLowerCase());
        await other.getByLabel('Recovery key', { exact: true }).press('Enter');
        await waitForTask(other, 'Water the ferns');
    });

    test('the linked token revoked with vellora-cloud is said on the page', async () => {
        const [[id]] = await linkedTokens(data, 'ana');
        await run(cloudBinary, ['token', 'revoke', id, '--data', data]);
        await page.reload();
        await page.waitForFunction(() => document.getElementById('sync-status').textContent.includes('did not accept'),
            null, { timeout: kWait });
    });

    test('an expired code is refused in words', async () => {
        await stopServer();
        process.env.VELLORA_CLOUD_LINK_LIFETIME = '1';
        await restartServer();
        const { code, expiresAt } = await api(base, token, 'v1/account/link', {});
        await new Promise((resolve) => setTimeout(resolve, Date.parse(expiresAt) - Date.now() + 100));
        const other = await fresh();
        await other.goto(`${base}#link=${code}`);
        await other.getByLabel('Sync passphrase').fill(kPassphrase);
        await other.getByRole('button', { name: 'Sign in' }).click();
        await messageSays(other, 'this sign-in code has expired');
        assert.equal(await message(other).getAttribute('role'), 'alert');
    });
});
