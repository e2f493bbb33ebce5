#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace kestrune {

// Runs of shared, append-only chunks that each know the stream position of
// their first entry (Base), as histories and frame indexes keep them. A copy
// brought up to date shares every chunk it still needs with its source.

// Makes `mine` the source's chunks, reusing what it already holds: chunks the
// source has dropped go, the source's new ones are added. Anything that is not
// a prefix of the source (another history) is replaced whole.
template <typename TChunkPtr>
void FollowChunks(std::deque<TChunkPtr> &mine, const std::deque<TChunkPtr> &source)
{
    if (source.empty()) {
        mine.clear();
        return;
    }
    const std::uint64_t firstBase = source.front()->Base;
    while (!mine.empty() && mine.front()->Base < firstBase)
        mine.pop_front();
    const std::size_t shared = mine.size();
    if (shared == 0 || shared > source.size() || mine.front() != source.front() ||
        mine.back() != source[shared - 1]) {
        mine = source;
        return;
    }
    for (std::size_t i = shared; i < source.size(); ++i)
        mine.push_back(source[i]);
}

// Adds the source's chunks that come after the last one `mine` holds, each
// covering `chunkSize` positions; what `mine` holds stays as it is.
template <typename TChunkPtr>
void ExtendChunks(std::deque<TChunkPtr> &mine, const std::deque<TChunkPtr> &source,
                  std::size_t chunkSize)
{
    if (source.empty())
        return;
    const std::uint64_t lastBase = mine.back()->Base;
    const std::uint64_t sourceFirst = source.front()->Base;
    std::size_t i = lastBase >= sourceFirst ? (lastBase - sourceFirst) / chunkSize + 1 : 0;
    for (; i < source.size(); ++i)
        mine.push_back(source[i]);
}

} // namespace kestrune
