#pragma once

#include <cstdint>

namespace mirrel::launcher {

// What the scan of a local file found for one chunk of the file's new chunk list.
struct TChunkReuse {
    enum EState : std::int32_t {
        NotFound = 0,
        AtTargetOffset = 1,
        AtOtherOffset = 2,
    };

    std::int32_t State = NotFound;
    // Where the chunk's bytes lie in the local file; once Saved, where they lie in the staging file.
    std::uint64_t SourceOffset = 0;
    std::uint64_t TargetOffset = 0;
    std::uint64_t Size = 0;
    // The bytes were copied to the staging file before their range in the local file was overwritten.
    bool Saved = false;
};

} // namespace mirrel::launcher
