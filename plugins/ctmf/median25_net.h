// Comparators that finish the median of a 5x5 window whose five columns are
// already sorted (wire 5 * column + rank, rank 0 the smallest). Batcher's
// network with the rows sorted first, cut to what the median depends on and
// then thinned by dropping every comparator the sorted columns make redundant
// (checked on all column-sorted 0/1 windows, which by the 0-1 principle covers
// every input). 61 comparators instead of 113.
#pragma once

namespace orvo::ctmf {

constexpr int kSortedColumnsCount = 61;
constexpr unsigned char kSortedColumnsNet[kSortedColumnsCount][2] = { // {gets the min, gets the max}
    {0, 5}, {15, 20}, {10, 15}, {0, 15}, {5, 20}, {5, 15}, {1, 6}, {16, 21}, {11, 21}, {11, 16}, {1, 16},
    {6, 21}, {6, 16}, {6, 11}, {2, 7}, {17, 22}, {12, 22}, {12, 17}, {2, 17}, {2, 12}, {7, 22}, {7, 17}, {3, 8},
    {18, 23}, {13, 18}, {3, 18}, {3, 13}, {8, 23}, {8, 18}, {8, 13}, {4, 9}, {19, 24}, {14, 24}, {14, 19},
    {4, 19}, {9, 14}, {21, 8}, {20, 7}, {16, 3}, {4, 17}, {11, 21}, {12, 20}, {13, 7}, {15, 21}, {13, 20},
    {3, 4}, {15, 13}, {21, 20}, {8, 7}, {21, 12}, {8, 13}, {4, 9}, {8, 12}, {13, 20}, {3, 4}, {12, 16}, {13, 3},
    {20, 4}, {8, 13}, {20, 16}, {13, 20},
};
constexpr int kSortedColumnsOut = 20;

} // namespace orvo::ctmf
