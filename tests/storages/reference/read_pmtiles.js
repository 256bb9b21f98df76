// Reads a PMTiles archive with the reference reader of the format's authors
// (the npm package "pmtiles"), for the tests of our writer.
// Usage: node read_pmtiles.js MODULE ARCHIVE OUTDIR < tiles
// MODULE is the package's folder; stdin holds one "z x y" a line. Writes
// OUTDIR/z-x-y with each tile's bytes (nothing for a tile the reader does not
// find), OUTDIR/header.json and OUTDIR/metadata.json.
"use strict";
const fs = require("fs");
const path = require("path");
const [moduleDir, archive, outDir] = process.argv.slice(2);
const { PMTiles } = require(moduleDir);

// A source over a local file, as the package's readers take one.
class LocalSource {
    constructor(file) {
        this.file = file;
        this.fd = fs.openSync(file, "r");
    }
    getKey() {
        return this.file;
    }
    async getBytes(offset, length) {
        const buffer = Buffer.alloc(length);
        const got = fs.readSync(this.fd, buffer, 0, length, offset);
        return { data: buffer.buffer.slice(buffer.byteOffset, buffer.byteOffset + got) };
    }
}

async function main() {
    const reader = new PMTiles(new LocalSource(archive));
    const header = await reader.getHeader();
    fs.writeFileSync(path.join(outDir, "header.json"), JSON.stringify(header));
    fs.writeFileSync(path.join(outDir, "metadata.json"), JSON.stringify(await reader.getMetadata()));
    const lines = fs.readFileSync(0, "utf8").split("\n").filter((line) => line.trim() !== "");
    for (const line of lines) {
        const [z, x, y] = line.trim().split(/\s+/).map(Number);
        const tile = await reader.getZxy(z, x, y);
        if (tile)
            fs.writeFileSync(path.join(outDir, `${z}-${x}-${y}`), Buffer.from(tile.data));
    }
}

main().catch((error) => {
    console.error(error && error.stack ? error.stack : String(error));
    process.exit(1);
});
