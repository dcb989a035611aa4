// libsodium and the sealing built on it (seal.js) live in a file of their own, fetched and compiled beside the
// page's first script: a signed-in planner is drawn from the browser's copy without waiting for them.
let loading = null;

// seal.js's functions, once libsodium is ready; a failed load may be tried again.
export function loadSeal() {
    loading ??= import('./seal.js').then(async (seal) => {
        await seal.ready();
        return seal;
    }).catch((error) => {
        loading = null;
        throw error;
    });
    return loading;
}
