// Items as the desktop keeps them (DayItem) and their sync records (ItemRecord): the same fields, the same times
// per part, the same merge. Times are milliseconds since the epoch; records carry them as ISO 8601 in UTC.
export const kOpenDay = 'open';
export const kRecordType = 'DayItem';
export const kZone = { zone: 'Vellora', owner: '__defaultOwner__' };
export const kBlocks = [
    { capacity: 1, heading: 'BIG', name: 'big', placeholder: 'Big…' },
    { capacity: 3, heading: 'MEDIUM', name: 'medium', placeholder: 'Medium…' },
    { capacity: 5, heading: 'SMALL', name: 'small', placeholder: 'Small…' },
];
export const kMaxTitleLength = 1000;

export const changeTime = (item) => item.changedAt ?? item.modifiedAt;
export const titleTime = (item) => item.titleChangedAt ?? changeTime(item);
export const doneTime = (item) => item.doneChangedAt ?? changeTime(item);
export const placeTime = (item) => item.placeChangedAt ?? changeTime(item);

// Rows and the Backlog: the older change first, on equal times the lower id.
export const inOrder = (a, b) => a.modifiedAt - b.modifiedAt || (a.id < b.id ? -1 : a.id > b.id ? 1 : 0);

// A title is one line: line breaks and tabs become spaces; at most kMaxTitleLength characters.
export function cleanTitle(text) {
    const title = text.split(/[\r\n]+/).map((piece) => piece.trim()).filter(Boolean).join(' ').replace(/\t/g, ' ').trim();
    return [...title].length > kMaxTitleLength ? null : title;
}

function compactPartTimes(item) {
    const at = changeTime(item);
    for (const part of ['titleChangedAt', 'doneChangedAt', 'placeChangedAt']) {
        if (item[part] === at) delete item[part];
    }
}

// Sets the time of each part that differs from `before` to the item's change time; a new row alone is a change of
// place, one that comes with a new text or a tick is not.
export function markChangedParts(item, before) {
    const at = changeTime(item);
    if (!before) {
        delete item.titleChangedAt;
        delete item.doneChangedAt;
        delete item.placeChangedAt;
        return item;
    }
    const newTitle = item.title !== before.title;
    const newDone = item.done !== before.done;
    const newPlace = item.block !== before.block || item.day !== before.day ||
        (item.modifiedAt !== before.modifiedAt && !newTitle && !newDone);
    item.titleChangedAt = newTitle ? at : titleTime(before);
    item.doneChangedAt = newDone ? at : doneTime(before);
    item.placeChangedAt = newPlace ? at : placeTime(before);
    compactPartTimes(item);
    return item;
}

// One item from two copies: each part from the copy that changed it later, on equal times from `theirs`.
export function mergedItem(ours, theirs) {
    const merged = { ...theirs, titleChangedAt: titleTime(theirs), doneChangedAt: doneTime(theirs),
        placeChangedAt: placeTime(theirs) };
    if (titleTime(ours) > titleTime(theirs)) Object.assign(merged, { title: ours.title, titleChangedAt: titleTime(ours) });
    if (doneTime(ours) > doneTime(theirs)) Object.assign(merged, { done: ours.done, doneChangedAt: doneTime(ours) });
    if (placeTime(ours) > placeTime(theirs)) {
        Object.assign(merged, { block: ours.block, day: ours.day, modifiedAt: ours.modifiedAt,
            placeChangedAt: placeTime(ours) });
    }
    const latest = Math.max(merged.titleChangedAt, merged.doneChangedAt, merged.placeChangedAt);
    if (latest > merged.modifiedAt) merged.changedAt = latest;
    else delete merged.changedAt;
    compactPartTimes(merged);
    return merged;
}

export function sameItem(a, b) {
    const keys = ['id', 'title', 'done', 'block', 'day', 'modifiedAt', 'changedAt', 'titleChangedAt', 'doneChangedAt',
        'placeChangedAt'];
    return keys.every((key) => a[key] === b[key]) &&
        (a.server?.changeTag ?? null) === (b.server?.changeTag ?? null);
}

const text = (value) => ({ type: 'text', value });
const date = (ms) => ({ type: 'date', value: new Date(ms).toISOString() });

function readDate(field) {
    if (field?.type !== 'date' || typeof field.value !== 'string') return undefined;
    const ms = Date.parse(field.value);
    return Number.isNaN(ms) ? undefined : ms;
}

// The record's header (type, identity, change tag, dates) the server last returned for the item, or a new one.
export function header(id, server) {
    const fresh = { type: kRecordType, id: { ...kZone, record: id } };
    if (!server || server.type !== kRecordType || server.id?.record !== id || server.id?.zone !== kZone.zone ||
        server.id?.owner !== kZone.owner)
        return fresh;
    const { type, id: identity, changeTag, created, modified } = server;
    return Object.fromEntries(Object.entries({ type, id: identity, changeTag, created, modified })
        .filter(([, value]) => value !== undefined));
}

export function makeRecord(item) {
    const fields = {
        title: text(item.title),
        done: { type: 'int64', value: item.done ? '1' : '0' },
        bucket: text(String(item.block)),
        day: text(item.day),
        modifiedAt: date(item.modifiedAt),
        titleChangedAt: date(titleTime(item)),
        doneChangedAt: date(doneTime(item)),
        placeChangedAt: date(placeTime(item)),
    };
    if (item.changedAt !== undefined) fields.changedAt = date(item.changedAt);
    return { ...header(item.id, item.server), fields };
}

export const makeTombstone = (id, deletedAt, server) => ({ ...header(id, server), fields: { deletedAt: date(deletedAt) } });

export const tombstoneTime = (tombstone) => readDate(tombstone?.fields?.deletedAt);

export function recordChangeTime(record) {
    const modified = readDate(record.fields.modifiedAt);
    const changed = readDate(record.fields.changedAt);
    if (modified !== undefined && changed !== undefined) return Math.max(modified, changed);
    return changed ?? modified;
}

export function itemFromRecord(record, readTime = Date.now()) {
    const { fields } = record;
    const block = Number(fields.bucket?.value);
    const item = {
        id: record.id.record,
        title: fields.title?.type === 'text' ? fields.title.value : '',
        done: fields.done?.type === 'int64' && fields.done.value !== '0',
        block: kBlocks.some((b) => b.capacity === block) ? block : 5,
        day: fields.day?.type === 'text' ? fields.day.value : kOpenDay,
        modifiedAt: readDate(fields.modifiedAt) ?? (record.modified ? Date.parse(record.modified) : readTime),
        server: header(record.id.record, record),
    };
    const changed = readDate(fields.changedAt);
    if (changed !== undefined && changed > item.modifiedAt) item.changedAt = changed;
    // No part changed later than the whole: a record that says so was not written by a Vellora.
    for (const part of ['titleChangedAt', 'doneChangedAt', 'placeChangedAt']) {
        const time = readDate(fields[part]);
        if (time !== undefined) item[part] = Math.min(time, changeTime(item));
    }
    compactPartTimes(item);
    return item;
}
