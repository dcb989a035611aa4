// Builds the page into one folder (the argument; web/dist by default): index.html, app.js, the passphrase's worker
// argon2.js, chunk.js (libsodium and what else both share, loaded once), style.css and the handwriting font: the
// files vellora-cloud compiles in (Cloud/CMakeLists.txt names them), each with a gzip-compressed copy NAME.gz beside it.
import { build } from 'esbuild';
import { appendFile, copyFile, mkdir, readdir, readFile, writeFile } from 'node:fs/promises';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { constants, gzipSync } from 'node:zlib';

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2] ?? join(here, 'dist');
await mkdir(out, { recursive: true });
await build({
    entryPoints: { app: join(here, 'src/main.js'), argon2: join(here, 'src/argon2.js') },
    bundle: true,
    splitting: true,
    minify: true,
    format: 'esm',
    target: 'es2020',
    outdir: out,
    // Stable names: the server's resource list names each file.
    entryNames: '[name]',
    chunkNames: '[name]',
    legalComments: 'eof',
    logLevel: 'warning',
});
for (const name of ['index.html', 'style.css', 'icon.svg']) await copyFile(join(here, 'src', name), join(out, name));
await copyFile(join(here, '../resources/fonts/Caveat-Regular.ttf'), join(out, 'caveat.ttf'));
// The licences of what the bundle carries go with it.
for (const name of ['libsodium-wrappers-sumo', 'libsodium-sumo']) {
    const licence = await readFile(join(here, 'node_modules', name, 'LICENSE'), 'utf8');
    await appendFile(join(out, 'chunk.js'), `\n/*! ${name}:\n${licence.replaceAll('*/', '* /')}*/\n`);
}
// Last, so that every file written above has its compressed copy, whoever adds one.
for (const name of await readdir(out)) {
    if (name.endsWith('.gz')) continue;
    const compressed = gzipSync(await readFile(join(out, name)), { level: constants.Z_BEST_COMPRESSION });
    await writeFile(join(out, `${name}.gz`), compressed);
}
