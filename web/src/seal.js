// The account key's box and sealed records, read and written exactly as the desktop does (SyncKit's AccountKey and
// RecordSeal), so that either side opens what the other sealed.
import sodium from 'libsodium-wrappers-sumo';

const encoder = new TextEncoder();
const kKeyBoxData = encoder.encode('vellora.accountKey.v1');
const kCheckText = encoder.encode('vellora.keyCheck.v1');
const kKeySize = 32;
const kCheckSize = 16;
const kVersion = 1;
// No box fetched from a server may ask more of this device than the desktop accepts.
const kMaximumOperations = 20;
const kMaximumMemory = 2 ** 30;

export const ready = () => sodium.ready;

export const toBase64 = (bytes) => sodium.to_base64(bytes, sodium.base64_variants.ORIGINAL);

// Nothing when the text is not Base64.
export function fromBase64(text) {
    if (typeof text !== 'string') return null;
    try {
        return sodium.from_base64(text, sodium.base64_variants.ORIGINAL);
    } catch {
        return null;
    }
}

// The parts of a box this device can open, or nothing.
export function keyBoxParts(box) {
    if (!box || box.version !== 1 || box.algorithm !== 'argon2id13+xchacha20poly1305') return null;
    const salt = fromBase64(box.salt);
    const sealedKey = fromBase64(box.sealedKey);
    const keyCheck = fromBase64(box.keyCheck);
    const { operations, memoryBytes } = box;
    if (!salt || !sealedKey || !keyCheck || salt.length !== sodium.crypto_pwhash_SALTBYTES) return null;
    if (keyCheck.length !== kCheckSize || !Number.isInteger(operations) || !Number.isInteger(memoryBytes)) return null;
    if (operations < sodium.crypto_pwhash_OPSLIMIT_MIN || operations > kMaximumOperations) return null;
    if (memoryBytes < sodium.crypto_pwhash_MEMLIMIT_MIN || memoryBytes > kMaximumMemory) return null;
    return { salt, sealedKey, keyCheck, operations, memoryBytes };
}

const keyCheck = (key) => sodium.crypto_generichash(kCheckSize, kCheckText, key);

const sameBytes = (a, b) => a.length === b.length && sodium.memcmp(a, b);

// The account key inside a box opened with the key derived from the passphrase (Argon2id with the box's salt and
// cost, deriveKey), or nothing when the passphrase is not the box's or the box is damaged.
export function openKeyBox(parts, derived) {
    const nonceSize = sodium.crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
    if (parts.sealedKey.length !== nonceSize + kKeySize + sodium.crypto_aead_xchacha20poly1305_ietf_ABYTES) return null;
    let key;
    try {
        key = sodium.crypto_aead_xchacha20poly1305_ietf_decrypt(null, parts.sealedKey.subarray(nonceSize),
            kKeyBoxData, parts.sealedKey.subarray(0, nonceSize), derived);
    } catch {
        return null;
    }
    // A box whose check does not match its key was put together from two boxes.
    if (key.length !== kKeySize || !sameBytes(keyCheck(key), parts.keyCheck)) return null;
    return key;
}

// Argon2id of the passphrase with the box's salt and cost: half a second and much memory, so the page runs it in a
// worker (argon2.js).
export const deriveKey = (passphrase, { salt, operations, memoryBytes }) =>
    sodium.crypto_pwhash(sodium.crypto_aead_xchacha20poly1305_ietf_KEYBYTES, encoder.encode(passphrase), salt,
        operations, memoryBytes, sodium.crypto_pwhash_ALG_ARGON2ID13);

// The recovery key as the desktop writes it: 56 digits of base 30 (big-endian) over the key and a 2-byte checksum,
// in groups of four; case, spaces and dashes do not count. Nothing when it is not a well-formed key.
const kAlphabet = 'ABCDEFGHJKMNPQRSTVWXYZ23456789';
const kRecoveryDigits = 56;
const kChecksumSize = 2;

export function keyFromRecoveryText(text) {
    const number = new Uint8Array(kKeySize + kChecksumSize);
    let digits = 0;
    for (const c of text.toUpperCase()) {
        if (c === '-' || /\s/.test(c)) continue;
        const digit = kAlphabet.indexOf(c);
        if (digit < 0) return null;
        let carry = digit;
        for (let i = number.length - 1; i >= 0; --i) {
            const value = number[i] * 30 + carry;
            number[i] = value & 0xff;
            carry = value >> 8;
        }
        // More than any key's digits.
        if (carry !== 0) return null;
        digits += 1;
    }
    if (digits !== kRecoveryDigits) return null;
    const key = number.slice(0, kKeySize);
    return sameBytes(sodium.crypto_generichash(kChecksumSize, key), number.subarray(kKeySize)) ? key : null;
}

// The key of a recovery text when it is this box's key.
export function openKeyBoxWithRecoveryKey(parts, text) {
    const key = keyFromRecoveryText(text);
    return key && sameBytes(keyCheck(key), parts.keyCheck) ? key : null;
}

// What a sealed value is bound to: its kind, the record's type, zone and name, each length-prefixed.
function associatedData(record, kind) {
    let text = 'vellora.record.v1';
    for (const part of [kind, record.type, record.id.owner, record.id.zone, record.id.record])
        text += `${encoder.encode(part).length}:${part}`;
    return encoder.encode(text);
}

export function isSealed(record) {
    const names = Object.keys(record.fields ?? {});
    const value = record.fields?.sealed;
    return names.length === 1 && value?.type === 'bytes' && typeof value.value === 'string';
}

// The record (header as it is) whose only field is the sealed JSON of its fields; kind is 'save' or 'tombstone'.
export function sealRecord(record, key, kind) {
    const plain = encoder.encode(JSON.stringify(record.fields));
    const nonce = sodium.randombytes_buf(sodium.crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
    const sealed = sodium.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, associatedData(record, kind), null, nonce,
        key);
    const value = new Uint8Array(1 + nonce.length + sealed.length);
    value.set([kVersion]);
    value.set(nonce, 1);
    value.set(sealed, 1 + nonce.length);
    return { ...record, fields: { sealed: { type: 'bytes', value: toBase64(value) } } };
}

// The record with its fields opened, or nothing when it is not sealed, or does not open with this key for this
// record and kind (damaged, moved, or sealed with another key).
export function openRecord(record, key, kind) {
    if (!isSealed(record)) return null;
    const value = fromBase64(record.fields.sealed.value);
    const nonceSize = sodium.crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
    if (!value || value.length < 1 + nonceSize + sodium.crypto_aead_xchacha20poly1305_ietf_ABYTES || value[0] !== kVersion)
        return null;
    try {
        const plain = sodium.crypto_aead_xchacha20poly1305_ietf_decrypt(null, value.subarray(1 + nonceSize),
            associatedData(record, kind), value.subarray(1, 1 + nonceSize), key);
        const fields = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(plain));
        if (!fields || typeof fields !== 'object' || Array.isArray(fields)) return null;
        return { ...record, fields };
    } catch {
        return null;
    }
}
