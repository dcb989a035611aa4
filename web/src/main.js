// The page: sign-in, then Today and the Backlog of the account, kept in step with the server.
import { Planner } from './planner.js';
import { ready } from './seal.js';
import { setUpSignIn, showSignIn } from './signin.js';
import { Sync } from './sync.js';
import { attachActions, renderPlanner } from './view.js';

const $ = (id) => document.getElementById(id);
let session = null;

function open(planner) {
    const sync = new Sync(planner);
    session = { planner, sync, view: { page: 'today' } };
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
    render();
    sync.start();
}

$('sign-out').addEventListener('click', async () => {
    if (!session) return;
    session.sync.stop();
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
        // The browser's copy is read while libsodium compiles. A browser already signed in stays so, whatever link
        // opened it: its waiting changes are never put at risk.
        const [, planner] = await Promise.all([ready(), Planner.restore()]);
        if (planner) open(planner);
        else showSignIn(document.getElementById('sign-in-message').textContent);
    } catch (error) {
        showSignIn(`This browser cannot keep the planner: ${error?.message ?? error}`);
    }
})();
