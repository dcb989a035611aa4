// The page: sign-in, then Today and the Backlog of the account, kept in step with the server.
import { Planner } from './planner.js';
import { setUpSignIn, showSignIn } from './signin.js';
import { loadSeal } from './sodium.js';
import { Sync } from './sync.js';
import { Toast } from './toast.js';
import { quoted, UndoHistory } from './undo.js';
import { act, attachActions, renderPlanner } from './view.js';
import { attachGestures } from './gestures.js';

const $ = (id) => document.getElementById(id);
let session = null;
let offlineProblem = '';
const toast = new Toast(() => session?.undo);

// The planner is drawn at once from the browser's copy; its sync starts when libsodium is ready, which it needs to
// open and seal records.
function open(planner) {
    const undo = new UndoHistory(planner);
    undo.addEventListener('offer', (event) => toast.show(event.detail, true));
    planner.addEventListener('overflow', ({ detail: titles }) => toast.show(titles.length === 1
        ? `${quoted(titles[0])} did not fit on Today and waits at the top of the Backlog.`
        : `${titles.length} tasks did not fit on Today and wait at the top of the Backlog.`, false));
    session = { planner, sync: null, undo, offlineProblem, view: { page: 'today' } };
    $('sign-in').hidden = true;
    $('planner').hidden = false;
    // One drawing for the changes made in one go (the first drawing and the sync's start are two): drawn before
    // the browser paints or takes the next input, as before.
    let drawing = false;
    const render = () => {
        if (drawing) return;
        drawing = true;
        queueMicrotask(() => {
            drawing = false;
            if (session?.planner === planner) renderPlanner(session);
        });
    };
    planner.addEventListener('change', render);
    // A later date than the one shown last starts its new day, as the desktop does at launch.
    planner.refreshDay();
    planner.settleOverflow();
    render();
    const started = session;
    loadSeal().then((seal) => {
        if (session !== started) return; // signed out meanwhile
        started.sync = new Sync(planner, seal);
        started.sync.start();
    }, (error) => {
        planner.problem = `this browser cannot sync: ${error?.message ?? error}`;
        planner.changed();
    });
}

$('sign-out').addEventListener('click', async () => {
    if (!session) return;
    session.sync?.stop();
    toast.hide();
    try {
        await session.planner.signOut();
        session = null;
        showSignIn('Signed out: this browser no longer holds the token, the key or the tasks.');
    } catch (error) {
        $('sync-status').textContent = `Not signed out: ${error?.message ?? error}`;
    }
});

attachActions($('today'), () => session);
attachActions($('backlog'), () => session);
attachGestures($('planner'), (...change) => session && act(session, ...change), () => session && renderPlanner(session));

$('new-day').addEventListener('click', () => {
    if (session) session.undo.record('newDay', () => session.planner.startNewDay());
});

// Back in the foreground on a later date (a phone's page left open overnight): the new day starts.
const refreshDay = () => session && document.visibilityState === 'visible' && session.planner.refreshDay();
document.addEventListener('visibilitychange', refreshDay);
setInterval(refreshDay, 60000);

// The page's files, kept for use offline; the API is never cached.
if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js').catch((error) => {
        offlineProblem = `this page will not open offline: ${error?.message ?? error}`;
        if (session) renderPlanner(Object.assign(session, { offlineProblem }));
    });
}

for (const page of ['today', 'backlog']) {
    $(`show-${page}`).addEventListener('click', () => {
        if (!session) return;
        session.view.page = page;
        renderPlanner(session);
    });
}

setUpSignIn(open);

(async () => {
    try {
        // The browser's copy is read and drawn while libsodium is fetched and compiled. A browser already signed
        // in stays so, whatever link opened it: its waiting changes are never put at risk.
        loadSeal().catch(() => {}); // said by what needs it
        const planner = await Planner.restore();
        if (planner) open(planner);
        else showSignIn(document.getElementById('sign-in-message').textContent);
    } catch (error) {
        showSignIn(`This browser cannot keep the planner: ${error?.message ?? error}`);
    }
})();
