// The page's own copy in IndexedDB: the account (user, token, key), the items, the deletions not yet sent, the
// changes waiting for the server, the change token and the records that did not open. One object store, one key
// per part, written together in one transaction.
const kDatabase = 'vellora';
const kStore = 'planner';
const kParts = ['account', 'items', 'deletions', 'pending', 'changeToken', 'unopened', 'zoneReady', 'shownDay'];

function request(operation) {
    return new Promise((resolve, reject) => {
        operation.onsuccess = () => resolve(operation.result);
        operation.onerror = () => reject(operation.error);
    });
}

let opened = null;
function database() {
    if (!opened) {
        const open = indexedDB.open(kDatabase, 1);
        open.onupgradeneeded = () => open.result.createObjectStore(kStore);
        opened = request(open).catch((error) => {
            opened = null;
            throw error;
        });
    }
    return opened;
}

export async function loadState() {
    const db = await database();
    const store = db.transaction(kStore, 'readonly').objectStore(kStore);
    const values = await Promise.all(kParts.map((part) => request(store.get(part))));
    return Object.fromEntries(kParts.map((part, i) => [part, values[i]]));
}

// Resolves once the transaction is committed; rejects with the browser's words when it is not.
export async function saveState(state) {
    const db = await database();
    const transaction = db.transaction(kStore, 'readwrite');
    const store = transaction.objectStore(kStore);
    for (const part of kParts) store.put(state[part], part);
    return new Promise((resolve, reject) => {
        transaction.oncomplete = () => resolve();
        transaction.onerror = () => reject(transaction.error);
        transaction.onabort = () => reject(transaction.error ?? new Error('the browser did not keep the change'));
    });
}

// Sign-out: the token, the key and the copy of the items go.
export async function clearState() {
    const db = await database();
    const transaction = db.transaction(kStore, 'readwrite');
    transaction.objectStore(kStore).clear();
    return new Promise((resolve, reject) => {
        transaction.oncomplete = () => resolve();
        transaction.onerror = () => reject(transaction.error);
        transaction.onabort = () => reject(transaction.error ?? new Error('the browser did not forget the account'));
    });
}
