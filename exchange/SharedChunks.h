#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

namespace kestrune {

// A run of shared, append-only chunks of ChunkSize entries, addressed by a
// stream position that counts every entry ever added ([Begin, End)), as
// histories and frame indexes keep them. Each chunk knows the position of its
// first entry (Base), and chunk i starts at Chunks[0]->Base + i * ChunkSize.
// A copy brought up to date shares every chunk it still needs with its source.
template <typename TChunk, std::size_t ChunkSize> class TChunkRun
{
public:
    [[nodiscard]] std::uint64_t Begin() const { return FBegin; }
    [[nodiscard]] std::uint64_t End() const { return FEnd; }
    [[nodiscard]] std::size_t Size() const { return static_cast<std::size_t>(FEnd - FBegin); }
    [[nodiscard]] bool Empty() const { return FBegin == FEnd; }
    [[nodiscard]] std::size_t ChunkCount() const { return FChunks.size(); }

    // Becomes equal to source, keeping the chunks already shared with it:
    // costs the chunks added and dropped since the last call, not the size.
    // Anything that is not a prefix of the source (another run) is replaced whole.
    void Follow(const TChunkRun &source)
    {
        FBegin = source.FBegin;
        FEnd = source.FEnd;
        if (source.FChunks.empty()) {
            FChunks.clear();
            return;
        }
        const std::uint64_t firstBase = source.FChunks.front()->Base;
        while (!FChunks.empty() && FChunks.front()->Base < firstBase)
            FChunks.pop_front();
        const std::size_t shared = FChunks.size();
        if (shared == 0 || shared > source.FChunks.size() ||
            FChunks.front() != source.FChunks.front() ||
            FChunks.back() != source.FChunks[shared - 1]) {
            FChunks = source.FChunks;
            return;
        }
        for (std::size_t i = shared; i < source.FChunks.size(); ++i)
            FChunks.push_back(source.FChunks[i]);
    }

    // Takes what source holds past End, keeping the front as it is; source
    // must be this run grown and perhaps trimmed.
    void Extend(const TChunkRun &source)
    {
        FEnd = source.FEnd;
        if (FChunks.empty()) {
            FChunks = source.FChunks;
            FBegin = source.FBegin;
            return;
        }
        if (source.FChunks.empty())
            return;
        const std::uint64_t lastBase = FChunks.back()->Base;
        const std::uint64_t sourceFirst = source.FChunks.front()->Base;
        std::size_t i = lastBase >= sourceFirst ? (lastBase - sourceFirst) / ChunkSize + 1 : 0;
        for (; i < source.FChunks.size(); ++i)
            FChunks.push_back(source.FChunks[i]);
    }

    void Reset()
    {
        FChunks.clear();
        FBegin = FEnd;
    }

protected:
    std::deque<std::shared_ptr<const TChunk>> FChunks;
    std::uint64_t FBegin = 0;
    std::uint64_t FEnd = 0;
};

} // namespace kestrune
