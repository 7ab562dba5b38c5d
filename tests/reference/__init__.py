"""What the conformance sweeps share: the .vol reader (vol), the converter's 8-bit mapping
(mapping), its orientation rule (orientation) and one runner (runner) that packs each case a
reader's plug-in (sweeps/) gives and compares it with what the reference reader decodes."""
