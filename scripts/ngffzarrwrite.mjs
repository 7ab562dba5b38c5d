// Writes OME-Zarr stores with @fideus-labs/ngff-zarr, the JavaScript OME-Zarr writer, for
// scripts/ngffzarrsweep.py: each image in every NGFF version the writer writes (0.4 and 0.5
// folders, the zipped .ozx), with its own pyramid and default codecs. Beside each store goes
// what the writer was given (NAME.given) and each level as zarrita, the writer's own Zarr
// library, reads it back (NAME.levelK), raw little-endian; OUT/manifest.json lists them all.
//
// Usage: node ngffzarrwrite.mjs OUT (run from a folder whose node_modules holds the package)
import { Worker as Thread } from "node:worker_threads";
import { writeFileSync } from "node:fs";
import { join } from "node:path";

// The writer encodes chunks in Web Workers, which Node lacks: worker_threads stand in, with
// messages held until the worker's script has registered its listener, as a browser does.
const BOOT = `
const { parentPort, workerData } = require("node:worker_threads");
const target = new EventTarget();
const deliver = (data) => target.dispatchEvent(Object.assign(new Event("message"), { data }));
const early = [];
globalThis.self = globalThis;
globalThis.addEventListener = target.addEventListener.bind(target);
globalThis.removeEventListener = target.removeEventListener.bind(target);
globalThis.postMessage = (message, transfer) => parentPort.postMessage(message, transfer);
parentPort.on("message", (data) => early.push(data));
import(workerData).then(() => {
    parentPort.removeAllListeners("message");
    parentPort.on("message", deliver);
    early.forEach(deliver);
});
`;
globalThis.Worker = class extends EventTarget {
    constructor(url) {
        super();
        this.thread = new Thread(BOOT, { eval: true, workerData: String(url) });
        this.thread.on("message", (data) =>
            this.dispatchEvent(Object.assign(new Event("message"), { data })));
        this.thread.on("error", (error) => this.dispatchEvent(
            Object.assign(new Event("error"), { error, message: String(error) })));
    }
    postMessage(message, transfer) {
        this.thread.postMessage(message, transfer);
    }
    terminate() {
        this.thread.terminate();
    }
};

const ngff = await import("@fideus-labs/ngff-zarr");
const zarr = await import("zarrita");
const { FileSystemStore } = await import("@zarrita/storage");

const TYPED = { uint8: Uint8Array, uint16: Uint16Array, int16: Int16Array, float32: Float32Array };

// Values that use each type's range and differ between neighbours along every axis, so that
// a turned or shifted axis shows; channels (a leading axis of a 4-D shape) apart.
function values(dtype, shape) {
    const [nz, ny, nx] = shape.slice(-3);
    const channels = shape.length === 4 ? shape[0] : 1;
    const out = new TYPED[dtype](channels * nz * ny * nx);
    for (let c = 0; c < channels; c++)
        out.set(volume(dtype, nz, ny, nx).map((v) => v / (c + 1)), c * nz * ny * nx);
    return out;
}

function volume(dtype, nz, ny, nx) {
    const out = new TYPED[dtype](nz * ny * nx);
    for (let z = 0; z < nz; z++)
        for (let y = 0; y < ny; y++)
            for (let x = 0; x < nx; x++) {
                const ramp = x * 7 + y * 13 + z * 29 + ((x * y + z) % 5) * 3;
                const i = (z * ny + y) * nx + x;
                if (dtype === "uint8") out[i] = ramp % 256;
                else if (dtype === "uint16") out[i] = (ramp * 157) % 65536;
                else if (dtype === "int16") out[i] = ((ramp * 211) % 60000) - 30000;
                else out[i] = ramp * 0.37 - 40;
            }
    return out;
}

// An image of the given values held in memory in chunks of the given shape, as the writer
// keeps its levels.
async function image(dtype, shape, chunks, data) {
    const array = await zarr.create(zarr.root(new Map()).resolve("image"), {
        shape, data_type: dtype, chunk_shape: chunks, codecs: ngff.defaultCodecs(dtype),
    });
    const stride = shape.map((_, k) => shape.slice(k + 1).reduce((a, b) => a * b, 1));
    await zarr.set(array, null, { data, shape, stride });
    const dims = (shape.length === 4 ? ["c"] : []).concat(["z", "y", "x"]);
    return new ngff.NgffImage({
        data: array, dims, scale: Object.fromEntries(dims.map((d) => [d, 1])),
        translation: Object.fromEntries(dims.map((d) => [d, 0])), name: "image",
    });
}

const CASES = [
    // name, type, shape (z, y, x), chunks, the pyramid's scale factors (none: one level)
    ["cube-u8", "uint8", [16, 16, 16], [8, 8, 8], [2, 4]],
    ["cube-u16", "uint16", [16, 16, 16], [4, 8, 16], [2]],
    ["cube-i16", "int16", [16, 16, 16], [16, 4, 4], [2, 4]],
    ["cube-f32", "float32", [16, 16, 16], [5, 6, 7], [2]],
    ["flat-u16", "uint16", [6, 10, 12], [4, 4, 4], [2]],
    ["tall-f32", "float32", [13, 5, 9], [4, 4, 4], []],
    ["odd-i16", "int16", [7, 11, 5], [3, 4, 5], []],
    ["channels-u16", "uint16", [2, 8, 8, 8], [1, 4, 4, 8], [2]],
];

const out = process.argv[2];
const manifest = [];
for (const [name, dtype, shape, chunks, factors] of CASES) {
    const given = values(dtype, shape);
    writeFileSync(join(out, name + ".given"), Buffer.from(given.buffer));
    const first = await image(dtype, shape, chunks, given);
    const multiscales = factors.length
        ? await ngff.toMultiscales(first, { scaleFactors: factors, chunks: 4 })
        : ngff.createMultiscales([first], ngff.createMetadata(
            [ngff.createAxis("z", "space"), ngff.createAxis("y", "space"),
             ngff.createAxis("x", "space")],
            [ngff.createDataset("0", [1, 1, 1], [0, 0, 0])]));
    for (const [store, version] of [[name + "-04.zarr", "0.4"], [name + "-05.zarr", "0.5"],
                                    [name + ".ozx", undefined]]) {
        multiscales.metadata.version = version ?? "0.5";
        await ngff.toNgffZarr(join(out, store), multiscales, version ? { version } : {});
        manifest.push({ store, version: multiscales.metadata.version, given: name + ".given",
                        dtype, shape, levels: multiscales.metadata.datasets.map((d) => d.path) });
    }
    // Each level as the writer's own library reads the folder store back.
    const root = zarr.root(new FileSystemStore(join(out, name + "-05.zarr")));
    const levels = [];
    for (const [k, path] of multiscales.metadata.datasets.map((d) => d.path).entries()) {
        const array = await zarr.open(root.resolve(path), { kind: "array" });
        const read = await zarr.get(array);
        const file = `${name}.level${k}`;
        writeFileSync(join(out, file), Buffer.from(read.data.buffer, read.data.byteOffset,
                                                   read.data.byteLength));
        levels.push({ file, dtype: array.dtype, shape: array.shape });
    }
    for (const entry of manifest.filter((e) => e.given === name + ".given"))
        entry.read = levels;
}
writeFileSync(join(out, "manifest.json"), JSON.stringify(manifest, null, 1));
ngff.terminateWorkerPool();
