// The sign-in: by a one-time link (SERVER/#link=CODE, traded for a token of this browser's own) or by user name and
// token; then the account's key, opened with the sync passphrase (Argon2id in a worker) or the recovery key.
// Nothing is stored before the key opens: until then the token lives in this module only.
import { Cloud, CloudError } from './cloud.js';
import { Planner } from './planner.js';
import { loadSeal } from './sodium.js';

const $ = (id) => document.getElementById(id);
let linkCode = null;
// The token a code gave, kept while the passphrase is tried again.
let linked = null;

// A short name for the token list on the server, such as "Chrome on Android".
export function deviceName(agent = navigator.userAgent) {
    const browsers = [['Edg/', 'Edge'], ['Firefox/', 'Firefox'], ['Chrome/', 'Chrome'], ['Chromium/', 'Chromium'],
        ['Safari/', 'Safari']];
    const systems = [['Android', 'Android'], ['iPhone', 'iPhone'], ['iPad', 'iPad'], ['CrOS', 'ChromeOS'],
        ['Windows', 'Windows'], ['Mac OS', 'macOS'], ['Linux', 'Linux']];
    const browser = browsers.find(([mark]) => agent.includes(mark))?.[1] ?? 'A browser';
    const system = systems.find(([mark]) => agent.includes(mark))?.[1];
    return system ? `${browser} on ${system}` : browser;
}

// The code of a #link=CODE address, taken out of the address bar and the history at once.
function takeLinkCode() {
    if (!location.hash.startsWith('#link=')) return null;
    const code = location.hash.slice('#link='.length);
    history.replaceState(null, '', location.pathname + location.search);
    // Empty for what cannot be a code: said as a damaged link.
    return /^[A-Za-z0-9-]{1,40}$/.test(code) ? code : '';
}

// Argon2id in a module worker, ended once it answered (it held 256 MiB).
function deriveInWorker(passphrase, parts) {
    return new Promise((resolve, reject) => {
        const worker = new Worker(new URL('argon2.js', import.meta.url), { type: 'module' });
        const end = (settle) => (value) => {
            worker.terminate();
            settle(value);
        };
        worker.addEventListener('message', ({ data }) =>
            data.derived ? end(resolve)(data.derived) : end(reject)(new Error(data.error)));
        worker.addEventListener('error', (event) => {
            event.preventDefault();
            end(reject)(new Error('the passphrase could not be checked in this browser'));
        });
        const { salt, operations, memoryBytes } = parts;
        worker.postMessage({ passphrase, salt, operations, memoryBytes });
    });
}

// The account's key (Base64) from its box on the server; words when it does not open.
async function openAccountKey(cloud, secret) {
    const answer = await cloud.get('v1/account/key');
    if (!answer.keyBox)
        throw new Error('this account has no sync passphrase yet: sign in with Vellora on a computer first ' +
            '(vellora account sign-in), then here');
    const { keyBoxParts, openKeyBox, openKeyBoxWithRecoveryKey, toBase64 } = await loadSeal();
    const parts = keyBoxParts(answer.keyBox);
    if (!parts) throw new Error('the account’s key box asks for more than this browser can give, or is damaged');
    if (secret.recoveryKey !== undefined) {
        const key = openKeyBoxWithRecoveryKey(parts, secret.recoveryKey);
        if (!key) throw new Error('that is not the recovery key of this account');
        return toBase64(key);
    }
    const key = openKeyBox(parts, await deriveInWorker(secret.passphrase, parts));
    if (!key) throw new Error('that is not the sync passphrase of this account');
    return toBase64(key);
}

async function signInWithToken(user, token, secret) {
    const cloud = new Cloud(token);
    const account = await cloud.get('v1/account');
    if (account.user !== user) throw new Error(`this token is not ${user}’s`);
    const key = await openAccountKey(cloud, secret);
    return Planner.create({ user, token, key });
}

// The code is traded once; a refused code is said in the server's words and the usual sign-in offered.
async function signInWithCode(secret) {
    if (!linked) {
        try {
            linked = await new Cloud('').post('v1/link/redeem', { code: linkCode, device: deviceName() });
        } catch (error) {
            if (error instanceof CloudError && error.name.startsWith('linkCode')) {
                linkCode = null;
                showMode();
            }
            throw error;
        }
        linkCode = null;
    }
    const key = await openAccountKey(new Cloud(linked.token), secret);
    const planner = await Planner.create({ user: linked.user, token: linked.token, key });
    linked = null;
    return planner;
}

function usingRecoveryKey() {
    return $('use-recovery-key').checked;
}

// The fields of the way chosen: with a code or a token given by a link, no user name or token.
function showMode() {
    const byLink = linkCode !== null || linked !== null;
    $('account-fields').hidden = byLink;
    $('sign-in-intro').textContent = byLink
        ? 'This one-time link signs this browser in. Give the sync passphrase (or the recovery key) to open your ' +
          'tasks here; it is never sent.'
        : 'Sign in with your sync account. The passphrase opens your tasks in this browser; it is never sent.';
    $('passphrase-fields').hidden = usingRecoveryKey();
    $('recovery-fields').hidden = !usingRecoveryKey();
}

function firstField() {
    if (!$('account-fields').hidden) return $('user');
    return usingRecoveryKey() ? $('recovery-key') : $('passphrase');
}

export function showSignIn(message = '') {
    $('planner').hidden = true;
    $('sign-in').hidden = false;
    showMode();
    $('sign-in-message').textContent = message;
    firstField().focus();
}

// Wires the form; `open` gets the planner once signed in. True when the address carried a sign-in code.
export function setUpSignIn(open) {
    linkCode = takeLinkCode();
    const message = $('sign-in-message');
    if (linkCode === '') {
        linkCode = null;
        message.textContent = 'That sign-in link is damaged: ask for a new one with “vellora account link” or ' +
            '“Open on another device…”.';
    }
    $('use-recovery-key').addEventListener('change', () => {
        showMode();
        firstField().focus();
    });
    $('sign-in-form').addEventListener('submit', async (event) => {
        event.preventDefault();
        const byLink = linkCode !== null || linked !== null;
        const user = $('user').value.trim();
        const token = $('token').value.trim();
        const secret = usingRecoveryKey() ? { recoveryKey: $('recovery-key').value } : { passphrase: $('passphrase').value };
        const secretText = secret.recoveryKey ?? secret.passphrase;
        if ((!byLink && (!user || !token)) || !secretText.trim()) {
            message.textContent = byLink
                ? `Give the ${usingRecoveryKey() ? 'recovery key' : 'sync passphrase'}.`
                : `Give the user name, the token and the ${usingRecoveryKey() ? 'recovery key' : 'sync passphrase'}.`;
            return;
        }
        $('sign-in-button').disabled = true;
        $('sign-in-form').setAttribute('aria-busy', 'true');
        message.textContent = usingRecoveryKey() ? 'Signing in…' : 'Opening your tasks… this takes a moment.';
        try {
            const planner = byLink ? await signInWithCode(secret) : await signInWithToken(user, token, secret);
            for (const field of ['passphrase', 'token', 'recovery-key']) $(field).value = '';
            message.textContent = '';
            open(planner);
        } catch (error) {
            message.textContent = `Not signed in: ${error.message}.`;
        } finally {
            $('sign-in-button').disabled = false;
            $('sign-in-form').removeAttribute('aria-busy');
        }
    });
    return linkCode !== null;
}
