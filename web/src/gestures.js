// A task row under a pointer (mouse, pen or finger), as the desktop's row: a press that barely moves opens the text,
// a sideways swipe past the threshold ticks (right) or deletes (left), a mostly vertical drag on Today moves the task
// onto the row it is let go over. The first movement decides between swipe and move. A finger lifts a task only
// when held still for a moment first: a quick upward or downward stroke scrolls the page, as fingers expect.
// Changes go through `act`.
const kDragThreshold = 8; // a drag starts after this far
const kSwipeThreshold = 60; // past it a swipe ticks or deletes
const kClickSlop = 4; // a press that moves less and is released is a click
const kLiftDelay = 350; // ms a finger rests before a vertical drag moves its task

const rowOf = (node) => node?.closest?.('li.row[data-block]');

let held = false;
// While a row is held, the sheet is not drawn again under it (a sync may change it meanwhile); after, it is.
export const rowHeld = () => held;

// The row of Today's sheet under a point, the dragged one left out (it follows the pointer).
function sheetRowAt(container, x, y, dragged) {
    for (const row of container.querySelectorAll('#today li.row')) {
        if (row === dragged) continue;
        const box = row.getBoundingClientRect();
        if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) return row;
    }
    return null;
}

export function attachGestures(container, act, redraw) {
    let press = null;

    const setTarget = (row) => {
        if (press.target === row) return;
        press.target?.classList.remove('drop-target');
        press.target = row;
        row?.classList.add('drop-target');
    };

    const finish = () => {
        const { row } = press;
        press.target?.classList.remove('drop-target');
        row.classList.remove('swiping', 'lifted', 'swipe-tick', 'swipe-delete');
        row.style.transform = '';
        document.body.classList.remove('dragging');
        press = null;
        held = false;
    };

    container.addEventListener('pointerdown', (event) => {
        const row = rowOf(event.target);
        // A text being edited takes the pointer as text does: the caret, a selection.
        const editing = event.target === document.activeElement && event.target.matches('.title');
        if (press || editing || !row?.dataset.id || event.button !== 0 || event.target.closest('button, .tick')) return;
        // The text is not selected by the drag; a click still opens it (below).
        event.preventDefault();
        press = { row, id: row.dataset.id, pointerId: event.pointerId, x: event.clientX, y: event.clientY, mode: null,
            onToday: Boolean(row.closest('#today')), target: null, at: event.timeStamp,
            finger: event.pointerType === 'touch', scrollY: window.scrollY };
        held = true;
        try {
            row.setPointerCapture(event.pointerId);
        } catch {
            // A pointer the browser does not know (made by a script): the window's listeners still follow it.
        }
    });

    window.addEventListener('pointermove', (event) => {
        if (!press || event.pointerId !== press.pointerId) return;
        const dx = event.clientX - press.x;
        const dy = event.clientY - press.y;
        if (!press.mode) {
            if (Math.hypot(dx, dy) < kDragThreshold) return;
            // Exactly as far sideways as up or down is a swipe; the Backlog's rows have no rows to move onto.
            press.mode = Math.abs(dx) < Math.abs(dy) ? (press.onToday ? 'move' : 'none') : 'swipe';
            if (press.mode === 'move' && press.finger && event.timeStamp - press.at < kLiftDelay) press.mode = 'scroll';
            if (press.mode !== 'scroll') {
                press.row.classList.add(press.mode === 'move' ? 'lifted' : 'swiping');
                document.body.classList.add('dragging');
            }
        }
        if (press.mode === 'scroll') window.scrollTo(window.scrollX, press.scrollY - dy);
        if (press.mode === 'swipe') {
            press.row.style.transform = `translateX(${dx}px)`;
            press.row.classList.toggle('swipe-tick', dx > kSwipeThreshold);
            press.row.classList.toggle('swipe-delete', dx < -kSwipeThreshold);
        } else if (press.mode === 'move') {
            press.row.style.transform = `translateY(${dy}px)`;
            setTarget(sheetRowAt(container, event.clientX, event.clientY, press.row));
        }
    });

    const release = (event) => {
        if (!press || event.pointerId !== press.pointerId) return;
        const { id, row } = press;
        let { mode } = press;
        const dx = event.clientX - press.x;
        const dy = event.clientY - press.y;
        // The row under the release, not the last one marked.
        const target = mode === 'move' ? sheetRowAt(container, event.clientX, event.clientY, row) : null;
        finish();
        if (event.type === 'pointercancel') mode = 'cancelled';
        if (mode === 'swipe' && dx > kSwipeThreshold) act('tick', id);
        else if (mode === 'swipe' && dx < -kSwipeThreshold) act('delete', id);
        else if (mode === 'move' && target) act('drop', id, Number(target.dataset.block), Number(target.dataset.row));
        else if (!mode && Math.hypot(dx, dy) < kClickSlop) {
            const input = document.querySelector(`[data-key="edit:${CSS.escape(id)}"]`);
            input?.focus();
            input?.setSelectionRange(input.value.length, input.value.length);
        }
        redraw();
    };
    window.addEventListener('pointerup', release);
    window.addEventListener('pointercancel', release);
}
