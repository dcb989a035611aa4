// The items of one account in this browser, and every change a person makes to them, as the desktop's DayStore
// makes it: each change is kept in IndexedDB and queued for the server.
import { inOrder, kBlocks, kOpenDay, markChangedParts } from './items.js';
import { clearState, loadState, saveState } from './storage.js';

export function dayKey(time = new Date()) {
    const pad = (n) => String(n).padStart(2, '0');
    return `${time.getFullYear()}-${pad(time.getMonth() + 1)}-${pad(time.getDate())}`;
}

function daysAfter(key, days) {
    const [year, month, day] = key.split('-').map(Number);
    return dayKey(new Date(year, month - 1, day + days));
}

// A change time as the item keeps it: changedAt only where it is later than modifiedAt.
const laterChange = (at, modifiedAt) => (at > modifiedAt ? at : undefined);

function withChangedAt(item, changedAt) {
    const copy = { ...item };
    if (changedAt === undefined) delete copy.changedAt;
    else copy.changedAt = changedAt;
    return copy;
}

function newItemId() {
    return crypto.randomUUID().toUpperCase();
}

export class Planner extends EventTarget {
    constructor(saved) {
        super();
        this.account = saved.account;
        this.items = new Map(Object.entries(saved.items ?? {}));
        this.deletions = new Map(Object.entries(saved.deletions ?? {}));
        // id → what to send: the item as it stands, or its tombstone.
        this.pending = new Set(saved.pending ?? []);
        this.changeToken = saved.changeToken ?? '';
        this.unopened = new Set(saved.unopened ?? []);
        this.zoneReady = saved.zoneReady ?? false;
        // The day this browser showed as Today last: its own date, never a synced item's, decides when a new day
        // starts.
        this.shownDay = saved.shownDay ?? null;
        this.day = dayKey();
        // Local changes per id since the page opened: an answer about an older version leaves the newer queued.
        this.versions = new Map();
        this.lastStamp = undefined;
        this.saving = Promise.resolve();
        this.problem = '';
    }

    static async restore() {
        const saved = await loadState();
        return saved.account ? new Planner(saved) : null;
    }

    static async create(account) {
        const planner = new Planner({ account });
        await planner.save();
        return planner;
    }

    async signOut() {
        this.account = null;
        await this.saving.catch(() => {});
        await clearState();
    }

    // Writes the whole state, after any write already under way; a failure is said on the page. Nothing once signed
    // out: an answer still on its way must not write the copy back.
    save() {
        if (!this.account) return Promise.resolve();
        const state = {
            account: this.account,
            items: Object.fromEntries(this.items),
            deletions: Object.fromEntries(this.deletions),
            pending: [...this.pending],
            changeToken: this.changeToken,
            unopened: [...this.unopened],
            zoneReady: this.zoneReady,
            shownDay: this.shownDay,
        };
        this.saving = this.saving.catch(() => {}).then(() => saveState(state)).then(() => {
            if (this.problem.startsWith('not kept')) this.problem = '';
        }, (error) => {
            this.problem = `not kept in this browser: ${error?.message ?? error}`;
            this.changed();
        });
        return this.saving;
    }

    changed() {
        this.dispatchEvent(new Event('change'));
    }

    version(id) {
        return this.versions.get(id) ?? 0;
    }

    // Two changes within one millisecond, or across a clock set back, still come in the order they were made.
    stamp(after) {
        let time = Date.now();
        for (const floor of [this.lastStamp, after]) {
            if (floor !== undefined && time <= floor) time = floor + 1;
        }
        this.lastStamp = time;
        return time;
    }

    // Changes made here in one go: their parts' times, the deletions they leave, the queue, the copy in the browser.
    commit(changes) {
        for (const [id, item] of changes) {
            const before = this.items.get(id);
            if (item) {
                this.items.set(id, markChangedParts(item, before));
                this.deletions.delete(id);
            } else if (before) {
                this.items.delete(id);
                this.deletions.set(id, { deletedAt: this.stamp(), server: before.server });
            }
            this.pending.add(id);
            this.versions.set(id, this.version(id) + 1);
        }
        this.save();
        this.changed();
        this.dispatchEvent(new Event('local'));
    }

    commitOne(id, item) {
        this.commit([[id, item]]);
    }

    // Every item not in the Backlog shows on Today: one of another day came from another device and stays in sight
    // until this browser's own next day, unchanged.
    itemsIn(capacity) {
        return [...this.items.values()].filter((item) => item.block === capacity && item.day !== kOpenDay).sort(inOrder);
    }

    backlog() {
        return [...this.items.values()].filter((item) => item.day === kOpenDay).sort(inOrder);
    }

    todayCount() {
        return kBlocks.reduce((sum, block) => sum + this.itemsIn(block.capacity).length, 0);
    }

    hasRoom(capacity) {
        return this.itemsIn(capacity).length < capacity;
    }

    add(title, capacity) {
        const day = this.hasRoom(capacity) ? this.day : kOpenDay;
        const item = { id: newItemId(), title, done: false, block: capacity, day, modifiedAt: this.stamp() };
        this.commitOne(item.id, item);
        return item;
    }

    // A text emptied deletes the item, as on the desktop.
    edit(id, title) {
        const item = this.items.get(id);
        if (!item || item.title === title) return;
        if (!title) return this.remove(id);
        this.commitOne(id, this.touched(item, { title }));
    }

    toggleDone(id) {
        const item = this.items.get(id);
        if (item) this.commitOne(id, this.touched(item, { done: !item.done }));
    }

    remove(id) {
        if (this.items.has(id)) this.commitOne(id, null);
    }

    sendToBacklog(id) {
        const item = this.items.get(id);
        if (item && item.day !== kOpenDay) this.commitOne(id, this.touched(item, { day: kOpenDay, done: false }));
    }

    // Only into a block with a free row; false when there is none.
    bringToToday(id) {
        const item = this.items.get(id);
        if (!item || item.day !== kOpenDay || !this.hasRoom(item.block)) return false;
        this.commitOne(id, this.touched(item, { day: this.day }));
        return true;
    }

    touched(item, change) {
        const copy = { ...item, ...change, modifiedAt: this.stamp() };
        delete copy.changedAt;
        return copy;
    }

    // Shows the day as the page opens or comes back: a later date than the one shown last starts its new day. A copy
    // that never said which day it showed is judged by its items.
    refreshDay(now = new Date()) {
        const today = dayKey(now);
        const movedOn = this.shownDay !== null
            ? today > this.shownDay
            : [...this.items.values()].some((item) => item.day !== kOpenDay && item.day < today);
        if (movedOn) return this.startNewDay(now);
        const unsaved = this.shownDay !== today;
        this.setDay(today);
        if (unsaved) this.save();
        return false;
    }

    setDay(day) {
        this.shownDay = day;
        if (day === this.day) return;
        this.day = day;
        this.changed();
    }

    // Unfinished tasks go to the Backlog after its older items, in the order they stood on the sheet; done ones are
    // deleted. Only this browser's days are cleared: the one it showed and any before today. A task another device
    // wrote for today or up to two days ahead stays; one further on came from a wrong clock and is cleared too.
    startNewDay(now = new Date()) {
        const today = dayKey(now);
        const shown = this.shownDay ?? this.day;
        const latestElsewhere = daysAfter(today, 2);
        const ofAnEarlierDay = (item) => item.day <= shown || item.day < today || item.day > latestElsewhere;
        const changes = [];
        const moved = [];
        for (const { capacity } of kBlocks) {
            for (const item of this.itemsIn(capacity).filter(ofAnEarlierDay)) {
                if (item.done) changes.push([item.id, null]);
                else moved.push(item);
            }
        }
        // No earlier than the time the day starts, and after every waiting item, even one stamped ahead of this clock.
        const latestWaiting = Math.max(now.getTime() - 1, ...this.backlog().map((item) => item.modifiedAt));
        for (const item of moved) {
            const copy = { ...item, day: kOpenDay, done: false, modifiedAt: this.stamp(latestWaiting) };
            delete copy.changedAt;
            changes.push([item.id, copy]);
        }
        this.setDay(today);
        if (changes.length) this.commit(changes);
        else this.save();
        return true;
    }

    moveItem(id, capacity) {
        const item = this.items.get(id);
        if (!item) return false;
        if (item.block === capacity && item.day !== kOpenDay) return true;
        if (!this.hasRoom(capacity)) return false;
        this.commitOne(id, this.touched(item, { block: capacity, day: this.day }));
        return true;
    }

    // Onto a row: an empty one moves the item there; a task's row swaps the two (blocks and rows), each a newer
    // change that keeps the other's old place.
    placeItem(id, targetId, capacity) {
        const moved = this.items.get(id);
        const target = targetId ? this.items.get(targetId) : undefined;
        if (!moved) return;
        if (!target || target.id === id) {
            this.moveItem(id, capacity);
            return;
        }
        const a = { ...moved, block: target.block, modifiedAt: target.modifiedAt, day: this.day };
        const b = { ...target, block: moved.block, modifiedAt: moved.modifiedAt, day: this.day };
        this.commit([[a.id, withChangedAt(a, laterChange(this.stamp(), a.modifiedAt))],
            [b.id, withChangedAt(b, laterChange(this.stamp(), b.modifiedAt))]]);
    }

    // One row up or down across the blocks, empty rows included.
    stepItem(id, offset) {
        const item = this.items.get(id);
        if (!item || item.day === kOpenDay) return;
        const rows = this.sheetRows();
        const current = rows.findIndex((row) => row.id === id);
        const next = current + offset;
        if (current < 0 || next < 0 || next >= rows.length) return;
        this.placeItem(id, rows[next].id, rows[next].block);
    }

    // The nine rows of the sheet in order: the block and the id of the task on it, if any.
    sheetRows() {
        return kBlocks.flatMap(({ capacity }) => {
            const items = this.itemsIn(capacity);
            return Array.from({ length: capacity }, (_, row) => ({ block: capacity, id: items[row]?.id }));
        });
    }

    // Puts items back as given, in one change (Undo): each keeps its modifiedAt and with it its old row, one without
    // comes after all others; a change of now all the same, so it wins over what it undoes elsewhere.
    restoreItems(items) {
        const changes = items.map((item) => {
            if (item.modifiedAt !== undefined) return [item.id, withChangedAt(item, laterChange(this.stamp(), item.modifiedAt))];
            const copy = { ...item, modifiedAt: this.stamp() };
            delete copy.changedAt;
            return [item.id, copy];
        });
        if (changes.length) this.commit(changes);
    }

    // What a block holds beyond its rows (two devices each filled its last row) goes to the top of the Backlog in one
    // change, in the order it stood; the rows keep the items placed first. A change of now all the same: other
    // devices must take the new place over the old one, whatever the times that order the Backlog.
    settleOverflow() {
        const over = kBlocks.flatMap(({ capacity }) => this.itemsIn(capacity).slice(capacity));
        if (!over.length) return;
        const waiting = this.backlog();
        const top = waiting.length ? waiting[0].modifiedAt : Date.now();
        this.commit(over.map((item, index) => {
            const moved = { ...item, day: kOpenDay, modifiedAt: top + index - over.length };
            return [item.id, withChangedAt(moved, laterChange(this.stamp(), moved.modifiedAt))];
        }));
        this.dispatchEvent(new CustomEvent('overflow', { detail: over.map((item) => item.title) }));
    }

}
