// The drive as a grid of cells, each a run of blocks, keeping per cell only the
// worst class seen and the slowest time: a few thousand cells whatever the size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "surface/readtimes.h"

class TBlockMap {
public:
    static constexpr int DefaultCells = 4096;
    static constexpr uint8_t Unread = 0xFF;

    struct Cell {
        uint8_t worst = Unread;    // a ReadClass, or Unread
        uint32_t slowestUs = 0;    // of the blocks read successfully
    };

    // blocks: how many blocks the run will read; cells: at most this many.
    TBlockMap(int64_t blocks, int cells = DefaultCells);

    void Add(int64_t block, ReadClass c, uint32_t micros);
    int CellCount() const { return static_cast<int>(cells_.size()); }
    const Cell& At(int cell) const { return cells_[static_cast<size_t>(cell)]; }
    // The blocks a cell covers: [first, last].
    int64_t FirstBlock(int cell) const;
    int64_t LastBlock(int cell) const;
    int CellOf(int64_t block) const;
    const std::array<int64_t, ReadClassCount>& Counts() const { return counts_; }
    int64_t Blocks() const { return blocks_; }

private:
    int64_t blocks_;
    std::vector<Cell> cells_;
    std::array<int64_t, ReadClassCount> counts_{};
};
