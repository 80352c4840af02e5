#pragma once

#include <QByteArray>

namespace publisher {

// Already compressed game data (textures, audio, video) barely shrinks, yet
// decoding LZMA over it is slow on the player's machine. A chunk therefore
// keeps its packed form only when packing saves at least this share of its
// size; otherwise it is stored (method 0) and the player's side only copies it.
constexpr double DefaultMinimumSaving = 0.03;

// Below this saving by DEFLATE, and without repeats further apart than
// DEFLATE can see, a chunk counts as already compressed.
constexpr double ProbeSaving = 0.01;

struct TPackedChunk {
    QByteArray Container; // the complete container as it is stored
    int Method = 0;       // the method actually used (0 when packing did not pay)
};

// Whether a chunk packed from UnpackedSize to PackedSize bytes keeps its packed form.
bool packingPays(qint64 UnpackedSize, qint64 PackedSize, double MinimumSaving);

// Whether a stretch of at least a few KiB occurs twice in Content. Sampled at
// points chosen by the content itself, so the repeats are found wherever
// they lie.
bool hasRepeatedStretches(const QByteArray& Content);

// Packs Content with Method and falls back to the stored form when packing
// does not pay. For the slow methods (lzip, LZMA) a quick DEFLATE probe comes
// first: content it cannot shrink and that holds no distant repeats is stored
// without trying them, and when DEFLATE packs at least as small as the slow
// method, its faster-to-unpack form is kept. Content must not be empty.
TPackedChunk packChunk(const QByteArray& Content, int Method, double MinimumSaving);

} // namespace publisher
