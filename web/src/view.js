// Today's three blocks and the Backlog, drawn from the planner after each change. Every change a person makes goes
// through the planner; drawing keeps the focus, the caret and any text being typed where they were.
import { cleanTitle, kBlocks } from './items.js';

const $ = (id) => document.getElementById(id);

function element(tag, attributes = {}, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes)) {
        if (value === false || value === undefined) continue;
        if (name === 'text') node.textContent = value;
        else if (name === 'value') node.defaultValue = node.value = value;
        else node.setAttribute(name, value === true ? '' : value);
    }
    node.append(...children);
    return node;
}

const countText = (count) => (count === 1 ? '1 item' : `${count} items`);

function taskRow(item, place) {
    const label = item.title;
    return element('li', { class: `row${item.done ? ' done' : ''}` },
        element('input', { type: 'checkbox', class: 'tick', 'data-action': 'tick', 'data-id': item.id,
            'data-key': `tick:${item.id}`, checked: item.done, 'aria-label': `Done: ${label}` }),
        element('input', { class: 'title', 'data-action': 'edit', 'data-id': item.id, 'data-key': `edit:${item.id}`,
            value: item.title, maxlength: 1000, 'aria-label': `Task: ${label}` }),
        place === 'today'
            ? element('button', { type: 'button', 'data-action': 'later', 'data-id': item.id,
                'data-key': `later:${item.id}`, 'aria-label': `Send to the Backlog: ${label}`, text: '→' })
            : element('button', { type: 'button', 'data-action': 'back', 'data-id': item.id,
                'data-key': `back:${item.id}`, 'aria-label': `Bring back to Today: ${label}`, text: '←' }),
        element('button', { type: 'button', class: 'delete', 'data-action': 'delete', 'data-id': item.id,
            'data-key': `delete:${item.id}`, 'aria-label': `Delete: ${label}`, text: '×' }));
}

function todaySheet(planner) {
    return kBlocks.map((block) => {
        const items = planner.itemsIn(block.capacity);
        const rows = items.map((item) => taskRow(item, 'today'));
        for (let row = items.length; row < block.capacity; ++row) {
            rows.push(element('li', { class: 'row empty' },
                element('input', { class: 'title new', 'data-action': 'add', 'data-block': block.capacity,
                    'data-key': `add:${block.capacity}:${row - items.length}`, placeholder: block.placeholder,
                    maxlength: 1000, 'aria-label': `New ${block.name} task` })));
        }
        const headingId = `block-${block.name}`;
        return element('section', { class: `block ${block.name}`, 'aria-labelledby': headingId },
            element('h2', { id: headingId, text: block.heading }), element('ul', {}, ...rows));
    });
}

function backlogSheet(planner) {
    const items = planner.backlog();
    if (!items.length) return [element('p', { class: 'empty-note', text: 'The Backlog is empty.' })];
    // Once per block, not per row: a long Backlog would go over every item for each of its rows.
    const room = new Map(kBlocks.map((block) => [block.capacity, planner.hasRoom(block.capacity)]));
    const rows = items.map((item) => {
        const row = taskRow(item, 'backlog');
        // Greyed while its block on Today has no free row.
        if (!room.get(item.block)) {
            row.classList.add('greyed');
            row.querySelector('[data-action="back"]').disabled = true;
        }
        return row;
    });
    return [element('h2', { text: 'BACKLOG' }), element('ul', {}, ...rows)];
}

function statusText(session) {
    const { planner, sync } = session;
    const parts = [sync.status];
    if (planner.unopened.size) {
        const count = planner.unopened.size;
        parts.push(`${count} ${count === 1 ? 'task' : 'tasks'} could not be opened (damaged, or sealed with another key)`);
    }
    if (planner.problem) parts.push(planner.problem);
    return parts.filter(Boolean).join(' · ');
}

export function renderPlanner(session) {
    const { planner, view } = session;
    const active = document.activeElement;
    const focus = active?.dataset?.key
        ? { key: active.dataset.key, value: active.value, dirty: active.value !== active.defaultValue,
            start: active.selectionStart, end: active.selectionEnd }
        : null;
    $('date-line').textContent = new Date().toLocaleDateString('en-US', { weekday: 'long', month: 'long', day: 'numeric' });
    $('count').textContent = countText(planner.todayCount());
    $('today').hidden = view.page !== 'today';
    $('backlog').hidden = view.page !== 'backlog';
    $('show-today').setAttribute('aria-pressed', String(view.page === 'today'));
    $('show-backlog').setAttribute('aria-pressed', String(view.page === 'backlog'));
    $('show-backlog').textContent = `Backlog (${planner.backlog().length})`;
    $('today').replaceChildren(...todaySheet(planner));
    $('backlog').replaceChildren(...backlogSheet(planner));
    $('sync-status').textContent = statusText(session);
    if (!focus) return;
    const again = document.querySelector(`[data-key="${CSS.escape(focus.key)}"]`);
    if (!again) return;
    if (focus.dirty && again.type !== 'checkbox') again.value = focus.value;
    again.focus();
    if (again.type !== 'checkbox' && focus.start !== null) again.setSelectionRange(focus.start, focus.end);
}

function commitText(planner, input) {
    const title = cleanTitle(input.value);
    if (title === null) {
        planner.problem = 'A task holds at most 1000 characters.';
        planner.changed();
        return;
    }
    const { action, id } = input.dataset;
    if (action === 'add') {
        input.value = '';
        if (title) planner.add(title, Number(input.dataset.block));
    } else if (action === 'edit') {
        input.defaultValue = input.value;
        planner.edit(id, title);
    }
}

// One set of listeners for both sheets: clicks on the buttons, Return and Escape in the rows, a row left.
export function attachActions(container, getSession) {
    container.addEventListener('click', (event) => {
        const target = event.target.closest('[data-action]');
        const session = getSession();
        if (!target || !session) return;
        const { planner } = session;
        const { action, id } = target.dataset;
        if (action === 'tick') planner.toggleDone(id);
        else if (action === 'later') planner.sendToBacklog(id);
        else if (action === 'back') planner.bringToToday(id);
        else if (action === 'delete') planner.remove(id);
    });
    container.addEventListener('keydown', (event) => {
        const input = event.target;
        const session = getSession();
        if (!session || !input.classList?.contains('title')) return;
        if (event.key === 'Enter') {
            event.preventDefault();
            commitText(session.planner, input);
        } else if (event.key === 'Escape') {
            input.value = input.defaultValue;
        }
    });
    // Leaving a row keeps its text, also when the row was drawn again while it was typed.
    container.addEventListener('focusout', (event) => {
        const input = event.target;
        const session = getSession();
        if (session && input.isConnected && input.dataset?.action === 'edit' && input.value !== input.defaultValue)
            commitText(session.planner, input);
    });
}
