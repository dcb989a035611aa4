// The items of one account in this browser, and every change a person makes to them, as the desktop's DayStore
// makes it: each change is kept in IndexedDB and queued for the server.
import { inOrder, kBlocks, kOpenDay, markChangedParts } from './items.js';
import { clearState, loadState, saveState } from './storage.js';

export function dayKey(time = new Date()) {
    const pad = (n) => String(n).padStart(2, '0');
    return `${time.getFullYear()}-${pad(time.getMonth() + 1)}-${pad(time.getDate())}`;
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
        // Local changes per id since the page opened: an answer about an older version leaves the newer queued.
        this.versions = new Map();
        this.lastStamp = 0;
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

    // Two changes within one millisecond still come in the order they were made.
    stamp() {
        this.lastStamp = Math.max(Date.now(), this.lastStamp + 1);
        return this.lastStamp;
    }

    // A change made here: its parts' times, the deletion it leaves, the queue, the copy in the browser.
    commit(id, item) {
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
        this.save();
        this.changed();
        this.dispatchEvent(new Event('local'));
    }

    // Every item not in the Backlog shows on Today.
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
        const day = this.hasRoom(capacity) ? dayKey() : kOpenDay;
        const item = { id: newItemId(), title, done: false, block: capacity, day, modifiedAt: this.stamp() };
        this.commit(item.id, item);
        return item;
    }

    // A text emptied deletes the item, as on the desktop.
    edit(id, title) {
        const item = this.items.get(id);
        if (!item || item.title === title) return;
        if (!title) return this.remove(id);
        this.commit(id, this.touched(item, { title }));
    }

    toggleDone(id) {
        const item = this.items.get(id);
        if (item) this.commit(id, this.touched(item, { done: !item.done }));
    }

    remove(id) {
        if (this.items.has(id)) this.commit(id, null);
    }

    sendToBacklog(id) {
        const item = this.items.get(id);
        if (item && item.day !== kOpenDay) this.commit(id, this.touched(item, { day: kOpenDay, done: false }));
    }

    // Only into a block with a free row; false when there is none.
    bringToToday(id) {
        const item = this.items.get(id);
        if (!item || item.day !== kOpenDay || !this.hasRoom(item.block)) return false;
        this.commit(id, this.touched(item, { day: dayKey() }));
        return true;
    }

    touched(item, change) {
        const copy = { ...item, ...change, modifiedAt: this.stamp() };
        delete copy.changedAt;
        return copy;
    }

}
