// Builds the page into one folder (the argument; web/dist by default): index.html, app.js, the passphrase's worker
// argon2.js, seal.js (libsodium and the sealing, which both load), style.css, the handwriting font, the icons,
// the manifest and the service worker: the files vellora-cloud compiles in (Cloud/CMakeLists.txt names them), each
// with a gzip-compressed copy NAME.gz beside it.
import { build } from 'esbuild';
import { createHash } from 'node:crypto';
import { appendFile, copyFile, mkdir, readdir, readFile, rm, writeFile } from 'node:fs/promises';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { constants, gzipSync } from 'node:zlib';

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2] ?? join(here, 'dist');
// Made anew: a file left by an earlier build would be listed for the service worker, which the server does not serve.
await rm(out, { recursive: true, force: true });
await mkdir(out, { recursive: true });
// The page's script and the passphrase's worker load seal.js (libsodium and the sealing) at run time, from the file
// of its own built next: the planner is drawn before it is fetched, and libsodium is fetched once for both.
const sealOnItsOwn = {
    name: 'seal-on-its-own',
    setup(build) {
        build.onResolve({ filter: /^\.\/seal\.js$/ }, () => ({ path: './seal.js', external: true }));
    },
};
const common = { bundle: true, minify: true, format: 'esm', target: 'es2020', outdir: out, legalComments: 'eof',
    logLevel: 'warning' };
await build({ ...common, entryPoints: { app: join(here, 'src/main.js'), argon2: join(here, 'src/argon2.js') },
    plugins: [sealOnItsOwn] });
await build({ ...common, entryPoints: { seal: join(here, 'src/seal.js') } });
for (const name of ['index.html', 'style.css', 'icon.svg', 'manifest.webmanifest'])
    await copyFile(join(here, 'src', name), join(out, name));
const resources = join(here, '../resources');
await copyFile(join(resources, 'fonts/Caveat-Regular.ttf'), join(out, 'caveat.ttf'));
await copyFile(join(resources, 'icons/app.vellora.Vellora.svg'), join(out, 'app-icon.svg'));
for (const size of [256, 512]) await copyFile(join(resources, `icons/app.vellora.Vellora-${size}.png`), join(out, `icon-${size}.png`));
// The licences of what the bundle carries go with it.
for (const name of ['libsodium-wrappers-sumo', 'libsodium-sumo']) {
    const licence = await readFile(join(here, 'node_modules', name, 'LICENSE'), 'utf8');
    await appendFile(join(out, 'seal.js'), `\n/*! ${name}:\n${licence.replaceAll('*/', '* /')}*/\n`);
}

// Once every other file is written: the service worker learns them all and a hash of them, so that each build keeps
// its files under a cache of its own. Every file of the folder is a page file the server must serve; the compressed
// copies are the same files.
const files = (await readdir(out)).filter((name) => name !== 'sw.js' && !name.endsWith('.gz')).sort();
const hash = createHash('sha256');
for (const name of files) hash.update(name).update('\0').update(await readFile(join(out, name)));
const worker = (await readFile(join(here, 'src/sw.js'), 'utf8'))
    .replace("const kVersion = 'unbuilt';", `const kVersion = '${hash.digest('hex').slice(0, 16)}';`)
    .replace('const kFiles = [];', `const kFiles = ${JSON.stringify(files)};`);
if (!worker.includes(JSON.stringify(files))) throw new Error('sw.js: the list of files was not stamped in');
await writeFile(join(out, 'sw.js'), worker);

// Last, so that every file written above has its compressed copy, whoever adds one.
for (const name of await readdir(out)) {
    if (name.endsWith('.gz')) continue;
    const compressed = gzipSync(await readFile(join(out, name)), { level: constants.Z_BEST_COMPRESSION });
    await writeFile(join(out, `${name}.gz`), compressed);
}
