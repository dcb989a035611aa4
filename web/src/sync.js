// The page as a sync client, by the engine's and the driver's rules: every record sealed with the account key before
// it leaves and opened when it comes; change tags, so that a save over a newer copy is refused and the two merge
// part by part; tombstones that say when; fetches by change token; a fetch at once when the push channel says so.
import { Cloud, CloudError } from './cloud.js';
import { header, itemFromRecord, kRecordType, kZone, makeRecord, makeTombstone, mergedItem, recordChangeTime,
    sameItem, tombstoneTime, changeTime } from './items.js';

const kMaxChangesPerRequest = 1000;
const kPushRejected = 4401;
const kLongestWait = 30000;

export class Sync {
    // seal: seal.js's functions, libsodium ready (sodium.js).
    constructor(planner, seal) {
        this.planner = planner;
        this.cloud = new Cloud(planner.account.token);
        this.seal = seal;
        this.key = seal.fromBase64(planner.account.key);
        this.wanted = false;
        this.running = null;
        this.retry = null;
        this.wait = 1000;
        this.status = 'Syncing…';
        this.stopped = false;
        planner.addEventListener('local', () => this.request());
    }

    start() {
        this.connectPush();
        // Back online: at once, also the push channel, however long its wait has grown.
        this.onOnline = () => {
            this.request();
            if (this.socket?.readyState !== WebSocket.CLOSED) return;
            clearTimeout(this.pushRetry);
            this.pushWait = 1000;
            this.connectPush();
        };
        window.addEventListener('online', this.onOnline);
        this.request();
    }

    stop() {
        this.stopped = true;
        clearTimeout(this.retry);
        clearTimeout(this.pushRetry);
        window.removeEventListener('online', this.onOnline);
        this.socket?.close();
    }

    // At once; a change made while a round is under way is sent by the next.
    request() {
        this.wanted = true;
        if (!this.running && !this.stopped) this.running = this.run();
        return this.running;
    }

    async run() {
        try {
            while (this.wanted && !this.stopped) {
                this.wanted = false;
                this.setStatus('Syncing…');
                await this.round();
            }
            this.wait = 1000;
            this.setStatus(this.planner.pending.size ? 'Not synced yet' : 'Synced');
        } catch (error) {
            this.failed(error);
        } finally {
            this.running = null;
        }
    }

    failed(error) {
        if (error?.name === 'notAuthenticated') {
            this.setStatus('The server did not accept this page’s token: sign out, then in with a valid token.');
            return;
        }
        const words = error?.name === 'networkFailure'
            ? 'Offline: changes are kept here and sent when the server can be reached'
            : `Not synced: ${error?.message ?? error}`;
        this.setStatus(words);
        clearTimeout(this.retry);
        this.retry = setTimeout(() => this.request(), this.wait);
        this.wait = Math.min(this.wait * 2, kLongestWait);
    }

    setStatus(words) {
        this.status = words;
        this.planner.changed();
    }

    async round() {
        await this.ensureZone();
        await this.sendAll();
        try {
            await this.fetchAll();
        } catch (error) {
            if (error?.name !== 'resetRequired') throw error;
            this.reset();
            await this.fetchAll();
        }
        // What the fetch left newer here goes back at once.
        await this.sendAll();
        // Once a fetch and a send are over, not between their pages: a later page may free the row.
        this.planner.settleOverflow();
    }

    async ensureZone() {
        if (this.planner.zoneReady) return;
        const answer = await this.cloud.post('v1/zones/modify', { saves: [kZone], deletes: [] });
        const failure = answer.failedZoneSaves?.[0];
        if (failure) throw new CloudError(failure.error?.name ?? 'serverError', failure.error?.message ?? 'the zone was not made');
        this.planner.zoneReady = true;
        await this.planner.save();
    }

    // The server's data was restored from a backup: forget its tags and token, send everything, fetch from the start.
    reset() {
        const planner = this.planner;
        for (const item of planner.items.values()) {
            if (item.server) delete item.server.changeTag;
            planner.pending.add(item.id);
        }
        for (const [id, deletion] of planner.deletions) {
            if (deletion.server) delete deletion.server.changeTag;
            planner.pending.add(id);
        }
        planner.changeToken = '';
        planner.zoneReady = false;
    }

    async sendAll() {
        for (let rounds = 0; this.planner.pending.size && rounds < 10; ++rounds) {
            try {
                await this.send([...this.planner.pending].slice(0, kMaxChangesPerRequest));
            } catch (error) {
                if (error?.name !== 'resetRequired') throw error;
                this.reset();
                await this.ensureZone();
            }
        }
    }

    async send(ids) {
        const planner = this.planner;
        const saves = [];
        const deletes = [];
        const sent = new Map(ids.map((id) => [id, planner.version(id)]));
        for (const id of ids) {
            const item = planner.items.get(id);
            const deletion = planner.deletions.get(id);
            if (item) saves.push(this.seal.sealRecord(makeRecord(item), this.key, 'save'));
            else if (deletion) deletes.push(this.seal.sealRecord(makeTombstone(id, deletion.deletedAt, deletion.server), this.key, 'tombstone'));
            else planner.pending.delete(id);
        }
        if (!saves.length && !deletes.length) return;
        const answer = await this.cloud.post('v1/records/modify', { saves, deletes });
        const unchanged = (id) => sent.get(id) === planner.version(id);
        for (const record of answer.savedRecords ?? []) {
            const id = record.id?.record;
            const item = planner.items.get(id);
            if (item) item.server = header(id, record);
            if (unchanged(id)) planner.pending.delete(id);
        }
        for (const recordID of answer.deletedRecordIDs ?? []) {
            if (!unchanged(recordID.record)) continue;
            planner.deletions.delete(recordID.record);
            planner.pending.delete(recordID.record);
        }
        for (const failure of [...(answer.failedRecordSaves ?? []), ...(answer.failedRecordDeletes ?? [])])
            this.settleFailure(failure, unchanged(failure.id?.record));
        await planner.save();
        planner.changed();
    }

    settleFailure(failure, unchanged) {
        const planner = this.planner;
        const id = failure.id?.record;
        const error = failure.error ?? {};
        if (error.name === 'zoneNotFound') {
            planner.zoneReady = false;
            return;
        }
        if (unchanged) planner.pending.delete(id);
        if (error.name === 'unknownItem') {
            // Deleted on the server since this page saw it: the later of the delete and the change here stands.
            const record = error.serverRecord;
            const tombstone = record?.fields ? this.seal.openRecord(record, this.key, 'tombstone') : record;
            if (record?.fields && !tombstone) planner.unopened.add(id);
            else if (tombstone) this.settleDeleted(id, tombstone);
            else if (planner.items.has(id)) {
                // The server has no such record (any more): it goes again as a new one.
                delete planner.items.get(id).server;
                planner.pending.add(id);
            }
            return;
        }
        if (error.name === 'serverRecordChanged' && error.serverRecord) {
            // Changed on another device since this one saw it: the later of the two stands, part by part.
            const server = this.seal.openRecord(error.serverRecord, this.key, 'save');
            if (server) this.settle(server);
            else planner.unopened.add(id);
            return;
        }
        planner.problem = `a task was not saved: ${error.message ?? error.name}`;
    }

    async fetchAll() {
        const planner = this.planner;
        for (let more = true; more;) {
            const answer = await this.cloud.post('v1/zone/changes', { zone: kZone, token: planner.changeToken });
            for (const record of answer.modifications ?? []) {
                if (record.type !== kRecordType) continue;
                const opened = this.seal.openRecord(record, this.key, 'save');
                if (!opened) {
                    planner.unopened.add(record.id.record);
                    continue;
                }
                planner.unopened.delete(record.id.record);
                this.settle(opened);
            }
            for (const deletion of answer.deletions ?? []) {
                const id = deletion.id?.record;
                // A delete from a device that says not when has no fields: it wins, as it always did.
                const tombstone = deletion.fields ? this.seal.openRecord(deletion, this.key, 'tombstone') : null;
                if (deletion.fields && !tombstone) {
                    planner.unopened.add(id);
                    continue;
                }
                planner.unopened.delete(id);
                this.settleDeleted(id, tombstone ?? deletion);
            }
            if (typeof answer.changeToken !== 'string') throw new CloudError('serverError', "the server's changes could not be read");
            planner.changeToken = answer.changeToken;
            more = answer.moreComing === true;
            await planner.save();
            planner.changed();
        }
    }

    // A record from the server, opened: as the driver settles it.
    settle(record) {
        const planner = this.planner;
        const id = record.id.record;
        const theirs = itemFromRecord(record);
        const deletion = planner.deletions.get(id);
        if (deletion) {
            if (deletion.deletedAt > (recordChangeTime(record) ?? -Infinity)) {
                // Deleted here after that change: the delete goes against this copy.
                deletion.server = theirs.server;
                planner.pending.add(id);
                return;
            }
            planner.deletions.delete(id);
            planner.pending.delete(id);
            planner.items.set(id, theirs);
            return;
        }
        const ours = planner.items.get(id);
        if (!ours) {
            planner.items.set(id, theirs);
            return;
        }
        const merged = mergedItem(ours, theirs);
        planner.items.set(id, merged);
        if (sameItem(merged, theirs)) planner.pending.delete(id);
        else planner.pending.add(id);
    }

    settleDeleted(id, tombstone) {
        const planner = this.planner;
        const deletedAt = tombstoneTime(tombstone);
        const ours = planner.items.get(id);
        if (ours && deletedAt !== undefined && changeTime(ours) > deletedAt) {
            // Changed here after the delete: the item stays and is made again over the tombstone.
            ours.server = header(id, tombstone);
            planner.pending.add(id);
            return;
        }
        planner.items.delete(id);
        planner.deletions.delete(id);
        planner.pending.delete(id);
    }

    // The server says "changed" on the socket whenever the user's data changes; the page fetches at once.
    connectPush() {
        if (this.stopped) return;
        const socket = new WebSocket(Cloud.pushAddress());
        this.socket = socket;
        socket.onopen = () => socket.send(JSON.stringify({ token: this.planner.account.token }));
        socket.onmessage = (event) => {
            let message = null;
            try {
                message = JSON.parse(event.data);
            } catch {
                return;
            }
            if (message?.ready) {
                this.pushWait = 1000;
                this.request(); // whatever changed while the channel was down
            } else if (message?.changed) {
                this.request();
            }
        };
        socket.onclose = (event) => {
            if (this.stopped || event.code === kPushRejected) return;
            this.pushWait = Math.min((this.pushWait ?? 1000) * 2, kLongestWait);
            this.pushRetry = setTimeout(() => this.connectPush(), this.pushWait);
        };
    }
}
