#!/usr/bin/env node
// Converts the Stanford bunny from the npm package `bunny@1.0.1` into Tessary's binary
// mesh format (.dat):
//
//   int32 V, int32 T                       (little-endian)
//   V x { float32 px, py, pz, nx, ny, nz }
//   T x { uint32 a, b, c }                 (each index in 0..V-1)
//
// Positions are centred on the centre of their bounding box and scaled uniformly so the
// farthest vertex lies at distance 1 from the origin. Normals are area-weighted: the
// un-normalised cross products of all incident faces are summed and then normalised.
//
// Usage:
//   node tools/bunny_to_dat.js [BUNNY_MODULE_DIR] OUTPUT.dat
// Without BUNNY_MODULE_DIR the module is found with require('bunny').
//
// The output depends only on the input mesh: no randomness, no timestamps.
'use strict';

const fs = require('fs');
const path = require('path');

function fail(msg) {
    process.stderr.write(`bunny_to_dat: ${msg}\n`);
    process.exit(1);
}

function loadBunny(moduleDir) {
    try {
        return moduleDir ? require(path.resolve(moduleDir)) : require('bunny');
    } catch (e) {
        const where = moduleDir ? ` from '${moduleDir}'` : '';
        fail(`cannot load the bunny module${where}: ${e.message}\n` +
             'Install it with: npm install bunny@1.0.1');
    }
}

function checkMesh(mesh) {
    if (!mesh || !Array.isArray(mesh.positions) || !Array.isArray(mesh.cells))
        fail('module does not export {positions, cells}');
    const V = mesh.positions.length;
    if (V === 0 || mesh.cells.length === 0) fail('mesh is empty');
    for (const p of mesh.positions) {
        if (!Array.isArray(p) || p.length !== 3 || !p.every(Number.isFinite))
            fail('vertex position is not three finite numbers');
    }
    for (const c of mesh.cells) {
        if (!Array.isArray(c) || c.length !== 3)
            fail('face is not a triangle');
        for (const i of c) {
            if (!Number.isInteger(i) || i < 0 || i >= V) fail(`face index ${i} out of range`);
        }
    }
}

// Returns {positions, bboxMin, bboxMax}: positions centred and scaled to unit radius.
function normalisePositions(positions) {
    const lo = [Infinity, Infinity, Infinity];
    const hi = [-Infinity, -Infinity, -Infinity];
    for (const p of positions) {
        for (let k = 0; k < 3; ++k) {
            lo[k] = Math.min(lo[k], p[k]);
            hi[k] = Math.max(hi[k], p[k]);
        }
    }
    const centre = [0, 1, 2].map((k) => 0.5 * (lo[k] + hi[k]));
    const centred = positions.map((p) => [p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]]);
    let radius = 0;
    for (const p of centred) radius = Math.max(radius, Math.hypot(p[0], p[1], p[2]));
    if (!(radius > 0)) fail('all vertices coincide');
    const out = centred.map((p) => p.map((v) => v / radius));
    return {
        positions: out,
        bboxMin: lo.map((v, k) => (v - centre[k]) / radius),
        bboxMax: hi.map((v, k) => (v - centre[k]) / radius),
    };
}

// Sum of face cross products per vertex (length = twice the face area), then normalised.
function areaWeightedNormals(positions, cells) {
    const sums = positions.map(() => [0, 0, 0]);
    for (const [a, b, c] of cells) {
        const pa = positions[a], pb = positions[b], pc = positions[c];
        const e1 = [pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]];
        const e2 = [pc[0] - pa[0], pc[1] - pa[1], pc[2] - pa[2]];
        const n = [e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                   e1[0] * e2[1] - e1[1] * e2[0]];
        for (const i of [a, b, c]) {
            sums[i][0] += n[0];
            sums[i][1] += n[1];
            sums[i][2] += n[2];
        }
    }
    return sums.map((s) => {
        const len = Math.hypot(s[0], s[1], s[2]);
        return len > 0 ? [s[0] / len, s[1] / len, s[2] / len] : [0, 0, 1];
    });
}

function encode(positions, normals, cells) {
    const V = positions.length, T = cells.length;
    const buf = Buffer.alloc(8 + V * 24 + T * 12);
    let off = buf.writeInt32LE(V, 0);
    off = buf.writeInt32LE(T, off);
    for (let i = 0; i < V; ++i) {
        for (const v of positions[i]) off = buf.writeFloatLE(v, off);
        for (const v of normals[i]) off = buf.writeFloatLE(v, off);
    }
    for (const c of cells) {
        for (const i of c) off = buf.writeUInt32LE(i, off);
    }
    return buf;
}

function main(argv) {
    if (argv.length < 1 || argv.length > 2 || argv.includes('-h') || argv.includes('--help')) {
        process.stderr.write('usage: node bunny_to_dat.js [BUNNY_MODULE_DIR] OUTPUT.dat\n');
        process.exit(argv.length === 0 ? 2 : 0);
    }
    const outPath = argv[argv.length - 1];
    const mesh = loadBunny(argv.length === 2 ? argv[0] : null);
    checkMesh(mesh);

    const { positions, bboxMin, bboxMax } = normalisePositions(mesh.positions);
    const normals = areaWeightedNormals(positions, mesh.cells);
    const buf = encode(positions, normals, mesh.cells);

    try {
        fs.writeFileSync(outPath, buf);
    } catch (e) {
        fail(`cannot write '${outPath}': ${e.message}`);
    }
    const fmt = (v) => v.map((x) => x.toFixed(4)).join(', ');
    console.log(`V = ${positions.length}, T = ${mesh.cells.length}`);
    console.log(`bbox min = (${fmt(bboxMin)}), max = (${fmt(bboxMax)})`);
    console.log(`wrote ${outPath} (${buf.length} bytes)`);
}

main(process.argv.slice(2));
