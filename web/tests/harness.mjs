// What the page's tests share: a vellora-cloud started on 127.0.0.1 with a free port and a temporary folder, Debian's
// chromium (headless, through playwright-core), the desktop's own sealing (web_fixture), and a runner that stops
// everything whatever happens. A test file:  await runCases(async ({ base, data, browser, test }) => { test(...) });
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { request } from 'node:http';
import { existsSync } from 'node:fs';
import { chmod, mkdir, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

export const [cloudBinary, fixture, vellora] = process.argv.slice(2);
export const browserPath = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find(existsSync);
const axeSource = await readFile(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
export const kPassphrase = 'rowan quill 42 lantern';
export const kWait = 15000;

export function run(program, args, input, env = process.env) {
    return new Promise((resolve, reject) => {
        const child = execFile(program, args, { timeout: 30000, env }, (error, stdout, stderr) =>
            error ? reject(new Error(`${program} ${args[0]}: ${stderr || error.message}`)) : resolve(stdout));
        // A program that does not read its input may be gone before it is written.
        child.stdin.on('error', () => {});
        child.stdin.end(input ?? '');
    });
}

export async function startServer(data, wantedPort = 0) {
    const server = spawn(cloudBinary, ['serve', '--listen', `127.0.0.1:${wantedPort}`, '--data', data],
        { stdio: ['ignore', 'pipe', 'pipe'] });
    const port = await new Promise((resolve, reject) => {
        let output = '';
        const timer = setTimeout(() => reject(new Error(`the server did not start: ${output}`)), kWait);
        const listen = (chunk) => {
            output += chunk;
            const match = /listening on 127\.0\.0\.1:(\d+)/.exec(output);
            if (match) {
                clearTimeout(timer);
                resolve(Number(match[1]));
            }
        };
        server.stdout.on('data', listen);
        server.stderr.on('data', listen);
        server.on('exit', () => reject(new Error(`the server stopped: ${output}`)));
    });
    return { server, base: `http://127.0.0.1:${port}/` };
}

export async function api(base, token, path, body) {
    const response = await fetch(base + path, {
        method: body ? 'POST' : 'GET',
        headers: { Authorization: `Bearer ${token}`, 'Content-Type': 'application/json' },
        body: body ? JSON.stringify(body) : undefined,
    });
    const answer = await response.json();
    assert.equal(response.status, 200, JSON.stringify(answer));
    return answer;
}

// One GET with exactly these headers (fetch would ask for and undo compression itself): status, headers, raw body.
export function fileAnswer(base, path, headers) {
    return new Promise((resolve, reject) => {
        request(new URL(path, base), { headers }, (response) => {
            const chunks = [];
            response.on('data', (chunk) => chunks.push(chunk));
            response.on('end', () => resolve({ status: response.statusCode, headers: response.headers,
                body: Buffer.concat(chunks) }));
            response.on('error', reject);
        }).on('error', reject).end();
    });
}

export const zone = { zone: 'Vellora', owner: '__defaultOwner__' };

export async function serverRecords(base, token) {
    const answer = await api(base, token, 'v1/zone/changes', { zone, token: '' });
    return answer.modifications;
}

// A task sealed by the desktop's own code and saved as the desktop's engine saves it; `fields` replace the
// defaults (a medium task of today, not done, changed now).
export async function saveFromDesktop(base, token, key, id, title, fields = {}) {
    const record = {
        type: 'DayItem', id: { ...zone, record: id },
        fields: {
            title: { type: 'text', value: title }, done: { type: 'int64', value: '0' }, bucket: { type: 'text', value: '3' },
            day: { type: 'text', value: new Date().toISOString().slice(0, 10) },
            modifiedAt: { type: 'date', value: new Date().toISOString() },
            ...fields,
        },
    };
    const sealed = JSON.parse(await run(fixture, ['seal', key, 'save'], JSON.stringify(record)));
    const answer = await api(base, token, 'v1/records/modify', { saves: [sealed], deletes: [] });
    assert.equal(answer.failedRecordSaves.length, 0, JSON.stringify(answer));
}

export async function signIn(page, base, user, token, passphrase) {
    await page.goto(base);
    await page.getByLabel('User name').fill(user);
    await page.getByLabel('Token').fill(token);
    await page.getByLabel('Sync passphrase').fill(passphrase);
    await page.getByRole('button', { name: 'Sign in' }).click();
}

// A one-time sign-in code of the token's user, as `vellora account link` asks for it.
export const newLinkCode = async (base, token) => (await api(base, token, 'v1/account/link', {})).code;

export const taskInput = (page, title) => page.locator(`.title[aria-label="Task: ${title}"]`);
export const waitForTask = (page, title) => page.waitForFunction(
    (t) => [...document.querySelectorAll('.title')].some((input) => input.value === t), title, { timeout: kWait });
export const waitForSynced = (page, timeout = kWait) => page.waitForFunction(
    () => document.getElementById('sync-status').textContent.startsWith('Synced'), null, { timeout });

// What a page shows: each task's place ("big", "medium", "small" or "backlog"), title and tick, in order.
export const sheetOf = (page) => page.evaluate(() => [...document.querySelectorAll('li.row[data-id]')].map((row) =>
    `${row.closest('#backlog') ? 'backlog' : row.closest('section').classList[1]}:${row.querySelector('.title').value}` +
    `${row.querySelector('.tick').checked ? ' ✓' : ''}`));

// Waits until a page shows its tasks as given (see sheetOf).
export async function waitForSheet(page, expected) {
    const deadline = Date.now() + kWait;
    for (;;) {
        const shown = await sheetOf(page);
        if (JSON.stringify(shown) === JSON.stringify(expected)) return;
        if (Date.now() > deadline) assert.deepEqual(shown, expected);
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
}

// Where an element is, measured in one step: the sheet may be drawn again between two of the driver's calls.
export const boxOf = (page, selector) => page.evaluate((s) => {
    const { x, y, width, height } = document.querySelector(s).getBoundingClientRect();
    return { x, y, width, height };
}, selector);

// A press on the element the selector finds, moves in steps and a release, by the mouse or (in a context with
// hasTouch) a finger. `during` runs before the release.
// A finger may rest for `hold` ms before it moves (a vertical drag on Today then lifts its task).
export async function dragBy(page, selector, dx, dy, { touch = false, hold = 0, during } = {}) {
    const box = await boxOf(page, selector);
    const x = box.x + box.width / 2;
    const y = box.y + box.height / 2;
    const steps = 8;
    if (!touch) {
        await page.mouse.move(x, y);
        await page.mouse.down();
        for (let i = 1; i <= steps; ++i) await page.mouse.move(x + (dx * i) / steps, y + (dy * i) / steps);
        await during?.();
        await page.mouse.up();
        return;
    }
    const cdp = await page.context().newCDPSession(page);
    const touchAt = (type, i) => cdp.send('Input.dispatchTouchEvent', { type,
        touchPoints: type === 'touchEnd' ? [] : [{ x: x + (dx * i) / steps, y: y + (dy * i) / steps }] });
    await touchAt('touchStart', 0);
    if (hold) await page.waitForTimeout(hold);
    for (let i = 1; i <= steps; ++i) await touchAt('touchMove', i);
    await during?.();
    await touchAt('touchEnd', steps);
    await cdp.detach();
}

export async function axeFindings(page) {
    await page.evaluate(axeSource);
    const results = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
    return results.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
        .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}


// Runs the cases a file registers, in order, against one server and one browser; stops at the first failure (the
// cases build on each other). Exits 0, 1 on a failure, 77 when this machine has no chromium.
export async function runCases(register) {
    if (!browserPath) {
        console.log('SKIP: no chromium on this machine (scripts/install-deps installs it)');
        process.exit(77);
    }
    const cases = [];
    const test = (name, body) => cases.push({ name, body });
    const data = await mkdtemp(join(tmpdir(), 'vellora-web-'));
    const folders = [];
    // A private folder of its own (a desktop's home), removed with the rest.
    const folder = async () => {
        folders.push(await mkdtemp(join(tmpdir(), 'vellora-web-')));
        await chmod(folders.at(-1), 0o700);
        return folders.at(-1);
    };
    const context = { data, test, folder, server: null, browser: null };
    let failed = 0;
    const stopServer = async () => {
        const server = context.server;
        if (server && server.exitCode === null) {
            server.kill('SIGTERM');
            await new Promise((resolve) => server.once('exit', resolve));
        }
    };
    // Stopped also when this script dies before its cleanup.
    process.on('exit', () => context.server?.exitCode === null && context.server.kill('SIGKILL'));
    try {
        const started = await startServer(data);
        context.server = started.server;
        context.base = started.base;
        context.port = Number(new URL(started.base).port);
        context.stopServer = stopServer;
        context.restartServer = async () => {
            const again = await startServer(data, context.port);
            context.server = again.server;
        };
        context.browser = await launchBrowser();
        await register(context);
        for (const { name, body } of cases) {
            try {
                await body();
                console.log(`ok - ${name}`);
            } catch (error) {
                failed += 1;
                console.log(`not ok - ${name}\n${error.stack ?? error}`);
                break;
            }
        }
    } catch (error) {
        failed += 1;
        console.log(`not ok - setting up\n${error.stack ?? error}`);
    } finally {
        await context.browser?.close().catch(() => {});
        await stopServer();
        for (const path of [data, ...folders]) await rm(path, { recursive: true, force: true });
    }
    process.exit(failed ? 1 : 0);
}

export function launchBrowser() {
    return chromium.launch({ executablePath: browserPath, args: [
        // This machine's network is closed: no background connections that fail at every start.
        '--no-sandbox', '--disable-gpu', '--disable-quic', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--no-first-run',
    ] });
}

// A user with two tokens and a key box, as a desktop that signed in first leaves it.
export async function newAccount(base, data, user) {
    const token = (await run(cloudBinary, ['user', 'add', user, '--data', data])).trim();
    const secondToken = (await run(cloudBinary, ['user', 'add', user, '--data', data])).trim();
    const { keyBox, key } = JSON.parse(await run(fixture, ['wrap', kPassphrase]));
    await api(base, token, 'v1/account/key', { keyBox, replaces: null });
    return { token, secondToken, key };
}

// The vellora command of a computer of its own: its home holds the store, the account file and the runtime folder.
// `desktop.run(args, input)` resolves to the standard output; `desktop.json(args)` to the parsed --json answer.
export async function newDesktop(folder) {
    const home = await folder();
    const store = join(home, 'data/vellora/store.json');
    await mkdir(join(home, 'data/vellora'), { recursive: true, mode: 0o700 });
    const env = { ...process.env, XDG_DATA_HOME: join(home, 'data'), XDG_CONFIG_HOME: join(home, 'config'),
        XDG_RUNTIME_DIR: home, QT_QPA_PLATFORM: 'offscreen', VELLORA_PASSPHRASE_COST: 'minimum' };
    const desktop = {
        run: (args, input) => run(vellora, [...args, '--store', store], input, env),
        json: async (args) => JSON.parse(await desktop.run([...args, '--json'])),
        // Signs in first: the account's key is made here, wrapped by the passphrase.
        signIn: async (base, user, token, passphrase) => {
            const file = join(home, 'passphrase');
            await writeFile(file, `${passphrase}\n`, { mode: 0o600 });
            return desktop.run(['account', 'sign-in', base.replace(/\/$/, ''), user, '--passphrase-file', file], `${token}\n`);
        },
    };
    return desktop;
}
