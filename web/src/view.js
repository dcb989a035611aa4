// Today's three blocks and the Backlog, drawn from the planner after each change. Every change a person makes goes
// through the planner; drawing keeps the focus, the caret and any text being typed where they were.
import { rowHeld } from './gestures.js';
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

const button = (action, id, label, text, extra = {}) => element('button', { type: 'button', 'data-action': action,
    'data-id': id, 'data-key': `${action}:${id}`, 'aria-label': label, text, ...extra });

// A row of Today knows its block and place, for a drop onto it.
function taskRow(item, place, row) {
    const label = item.title;
    const today = place === 'today';
    return element('li', { class: `row${item.done ? ' done' : ''}`, 'data-id': item.id, 'data-block': item.block,
        'data-row': today ? row : undefined },
        element('input', { type: 'checkbox', class: 'tick', 'data-action': 'tick', 'data-id': item.id,
            'data-key': `tick:${item.id}`, checked: item.done, 'aria-label': `Done: ${label}` }),
        // A long task wraps onto more lines, as on the desktop: a phone shows it whole.
        element('textarea', { class: 'title', 'data-action': 'edit', 'data-id': item.id, 'data-key': `edit:${item.id}`,
            value: item.title, maxlength: 1000, rows: 1, 'aria-label': `Task: ${label}` }),
        ...(today ? [button('up', item.id, `Move up: ${label}`, '↑', { class: 'step' }),
            button('down', item.id, `Move down: ${label}`, '↓', { class: 'step' })] : []),
        today
            ? button('later', item.id, `Send to the Backlog: ${label}`, '→')
            : button('back', item.id, `Bring back to Today: ${label}`, '←'),
        button('delete', item.id, `Delete: ${label}`, '×', { class: 'delete' }));
}

function todaySheet(planner) {
    return kBlocks.map((block) => {
        const items = planner.itemsIn(block.capacity);
        const rows = items.map((item, row) => taskRow(item, 'today', row));
        for (let row = items.length; row < block.capacity; ++row) {
            rows.push(element('li', { class: 'row empty', 'data-block': block.capacity, 'data-row': row },
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
    const parts = [sync?.status ?? 'Syncing…'];
    if (planner.unopened.size) {
        const count = planner.unopened.size;
        parts.push(`${count} ${count === 1 ? 'task' : 'tasks'} could not be opened (damaged, or sealed with another key)`);
    }
    if (planner.problem) parts.push(planner.problem);
    if (session.offlineProblem) parts.push(session.offlineProblem);
    return parts.filter(Boolean).join(' · ');
}

export function renderPlanner(session) {
    if (rowHeld()) return;
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
    if (!sizesItself) document.querySelectorAll('textarea.title').forEach(fitText);
    if (!focus) return;
    const again = document.querySelector(`[data-key="${CSS.escape(focus.key)}"]`);
    if (!again) return;
    if (focus.dirty && again.type !== 'checkbox') again.value = focus.value;
    again.focus();
    if (again.type !== 'checkbox' && focus.start !== null) again.setSelectionRange(focus.start, focus.end);
}

// Where the browser cannot size a text field to its words (field-sizing), the page does.
const sizesItself = globalThis.CSS?.supports?.('field-sizing', 'content') ?? false;
export function fitText(field) {
    if (sizesItself || field?.tagName !== 'TEXTAREA') return;
    field.style.height = 'auto';
    field.style.height = `${field.scrollHeight}px`;
}

function commitText(session, input) {
    const { planner, undo } = session;
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
        // An emptied text deletes, with Undo.
        undo.record('edit', () => planner.edit(id, title));
    }
}

// Onto a row of Today as it stands now (a sync may have changed it since the rows were drawn): an empty row or a
// task's, not the task's own.
function drop(planner, id, block, row) {
    const items = planner.itemsIn(block);
    if (row >= items.length) planner.placeItem(id, null, block);
    else if (items[row].id !== id) planner.placeItem(id, items[row].id, block);
}

// Every change a person asks for on a task, by name; deletes are offered for Undo.
export function act(session, action, id, ...where) {
    const { planner, undo } = session;
    if (action === 'tick') planner.toggleDone(id);
    else if (action === 'later') planner.sendToBacklog(id);
    else if (action === 'back') planner.bringToToday(id);
    else if (action === 'delete') undo.record('remove', () => planner.remove(id));
    else if (action === 'up') planner.stepItem(id, -1);
    else if (action === 'down') planner.stepItem(id, +1);
    else if (action === 'drop') drop(planner, id, ...where);
}

// One set of listeners for both sheets: clicks on the buttons, Return, Escape and Alt+arrows in the rows, a row left.
export function attachActions(container, getSession) {
    container.addEventListener('click', (event) => {
        const target = event.target.closest('[data-action]');
        const session = getSession();
        if (target && session && target.dataset.id && !['edit', 'add'].includes(target.dataset.action))
            act(session, target.dataset.action, target.dataset.id);
    });
    container.addEventListener('keydown', (event) => {
        const input = event.target;
        const session = getSession();
        if (!session || !input.classList?.contains('title')) return;
        if (event.key === 'Enter') {
            event.preventDefault();
            commitText(session, input);
        } else if (event.key === 'Escape') {
            input.value = input.defaultValue;
            fitText(input);
        } else if (event.altKey && !event.ctrlKey && !event.shiftKey && !event.metaKey &&
            (event.key === 'ArrowUp' || event.key === 'ArrowDown') && input.dataset.action === 'edit') {
            // As on the desktop: the task steps one row, and the keyboard stays with it.
            event.preventDefault();
            act(session, event.key === 'ArrowUp' ? 'up' : 'down', input.dataset.id);
        }
    });
    container.addEventListener('input', (event) => fitText(event.target));
    // Leaving a row keeps its text, also when the row was drawn again while it was typed.
    container.addEventListener('focusout', (event) => {
        const input = event.target;
        const session = getSession();
        if (session && input.isConnected && input.dataset?.action === 'edit' && input.value !== input.defaultValue)
            commitText(session, input);
    });
}
