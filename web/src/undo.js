// The page's Undo, by the desktop's rules: a delete or a new day keeps the items it touched as they were before and
// after; Undo puts them back with their own times, so each returns to the row it left, as a change of now that syncs
// like any other and wins over what it undoes on other devices. Items changed elsewhere since keep that change.
import { inOrder, kBlocks, kOpenDay } from './items.js';

const kNoteTitleLength = 40;

export function quoted(title) {
    const chars = [...title];
    return `“${chars.length > kNoteTitleLength ? `${chars.slice(0, kNoteTitleLength - 1).join('')}…` : title}”`;
}

// What the person sees of an item; the sync state in its record is not theirs.
function sameForUser(a, b) {
    if (!a || !b) return !a && !b;
    return a.title === b.title && a.done === b.done && a.block === b.block && a.day === b.day &&
        a.modifiedAt === b.modifiedAt;
}

export class UndoHistory extends EventTarget {
    constructor(planner) {
        super();
        this.planner = planner;
        this.step = null;
    }

    // Runs a change made by the person. A delete or a new day becomes the step Undo takes back, and is told with
    // an 'offer' event whose detail is its words.
    record(kind, operation) {
        const before = new Map(this.planner.items);
        operation();
        const step = { kind, before: new Map(), after: new Map() };
        for (const id of new Set([...before.keys(), ...this.planner.items.keys()])) {
            const old = before.get(id) ?? null;
            const now = this.planner.items.get(id) ?? null;
            if (sameForUser(old, now)) continue;
            step.before.set(id, old);
            step.after.set(id, now);
        }
        const removed = [...step.after].filter(([, item]) => !item).map(([id]) => step.before.get(id));
        let words = '';
        if (kind === 'newDay') words = 'Started a new day.';
        else if (removed.length === 1) words = `Deleted ${quoted(removed[0].title)}.`;
        if (!words) return;
        this.step = step;
        this.dispatchEvent(new CustomEvent('offer', { detail: words }));
    }

    // Takes the last step back; the words to tell the person, if any.
    undo() {
        const step = this.step;
        this.step = null;
        if (!step) return '';
        const kept = step.kind === 'newDay' ? this.dropChanged(step) : [];
        for (const [id, item] of step.after) {
            const current = this.planner.items.get(id) ?? null;
            if (!sameForUser(current, item))
                return `Not undone: ${quoted((current ?? item ?? step.before.get(id)).title)} was changed elsewhere.`;
        }
        const notes = this.bringTo(step.before);
        if (kept.length) notes.push(`New day undone; kept as changed elsewhere: ${kept.map(quoted).join(', ')}.`);
        return notes.join(' ');
    }

    // Out of a new day's step go the tasks changed since; their titles. None when every one was: the step is then
    // refused as a whole.
    dropChanged(step) {
        const changed = [...step.after].filter(([id, item]) => !sameForUser(this.planner.items.get(id) ?? null, item));
        if (changed.length === step.after.size) return [];
        for (const [id] of changed) {
            step.before.delete(id);
            step.after.delete(id);
        }
        return changed.map(([id, item]) => (this.planner.items.get(id) ?? item).title);
    }

    bringTo(wanted) {
        const planner = this.planner;
        const gone = [...wanted].filter(([id, item]) => !item && planner.items.has(id)).map(([id]) => [id, null]);
        if (gone.length) planner.commit(gone);
        // In their old order, which decides who gets a block's last free rows.
        const back = [...wanted.values()].filter(Boolean).sort(inOrder);
        const used = new Map(kBlocks.map(({ capacity }) =>
            [capacity, planner.itemsIn(capacity).filter((item) => !wanted.has(item.id)).length]));
        const notes = [];
        const restored = back.map((item) => {
            // The record's sync state is the newest there is: a delete not yet sent holds it.
            const server = planner.items.get(item.id)?.server ?? planner.deletions.get(item.id)?.server ?? item.server;
            const copy = { ...item, server };
            if (item.day === kOpenDay) return copy;
            // Back on today's sheet, unless its block has filled up meanwhile: then at the Backlog's end.
            if (used.get(item.block) < item.block) {
                used.set(item.block, used.get(item.block) + 1);
                copy.day = planner.day;
            } else {
                copy.day = kOpenDay;
                copy.modifiedAt = undefined;
                notes.push(`${quoted(item.title)} went to the Backlog: its block is full.`);
            }
            return copy;
        });
        planner.restoreItems(restored);
        return notes;
    }
}
