#include "surface/blockmap.h"

#include <algorithm>

TBlockMap::TBlockMap(int64_t blocks, int cells) : blocks_(std::max<int64_t>(blocks, 0)) {
    const int64_t n = std::clamp<int64_t>(blocks_, 1, std::max(cells, 1));
    cells_.resize(static_cast<size_t>(n));
}

// Cell c holds blocks [ceil(c * B / C), ceil((c + 1) * B / C)), so block b is in
// cell floor(b * C / B): every cell gets at least one block, the counts differ by
// at most one.
int TBlockMap::CellOf(int64_t block) const {
    const int64_t n = static_cast<int64_t>(cells_.size());
    if (blocks_ <= 0 || block < 0) return 0;
    if (block >= blocks_) return static_cast<int>(n - 1);
    // Fits: a 1 EB drive has 2^44 blocks, the cells stay below 2^13.
    return static_cast<int>((block * n) / blocks_);
}

int64_t TBlockMap::FirstBlock(int cell) const {
    const int64_t n = static_cast<int64_t>(cells_.size());
    const int64_t num = static_cast<int64_t>(cell) * blocks_;
    return num / n + (num % n != 0 ? 1 : 0);
}

int64_t TBlockMap::LastBlock(int cell) const {
    if (cell + 1 >= CellCount()) return std::max<int64_t>(blocks_ - 1, 0);
    return FirstBlock(cell + 1) - 1;
}

void TBlockMap::Add(int64_t block, ReadClass c, uint32_t micros) {
    ++counts_[c];
    Cell& cell = cells_[static_cast<size_t>(CellOf(block))];
    if (cell.worst == Unread || c > cell.worst) cell.worst = c;
    if (c != ReadFailed) cell.slowestUs = std::max(cell.slowestUs, micros);
}
