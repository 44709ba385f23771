#include "huffman.h"

#include <algorithm>
#include <vector>

namespace unlha {

void huffmanLengths(const uint32_t *freq, int count, int maxLength, uint8_t *lengths) {
    std::fill(lengths, lengths + count, uint8_t(0));
    struct Leaf {
        uint64_t weight;
        int symbol;
    };
    std::vector<Leaf> leaves;
    for (int i = 0; i < count; ++i)
        if (freq[i])
            leaves.push_back({freq[i], i});
    const size_t n = leaves.size();
    if (n < 2)
        return;

    std::vector<uint64_t> weight(2 * n);
    std::vector<size_t> parent(2 * n);
    std::vector<int> depth(2 * n);
    for (;;) {
        std::sort(leaves.begin(), leaves.end(), [](const Leaf &a, const Leaf &b) {
            return a.weight != b.weight ? a.weight < b.weight : a.symbol < b.symbol;
        });
        // Two queues: the sorted leaves, and the joined nodes, which come out in rising weight.
        for (size_t i = 0; i < n; ++i)
            weight[i] = leaves[i].weight;
        size_t nextLeaf = 0, nextNode = n;
        auto takeSmallest = [&](size_t made) {
            if (nextLeaf < n && (nextNode >= made || weight[nextLeaf] <= weight[nextNode]))
                return nextLeaf++;
            return nextNode++;
        };
        for (size_t made = n; made < 2 * n - 1; ++made) {
            const size_t a = takeSmallest(made);
            const size_t b = takeSmallest(made);
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = made;
        }
        depth[2 * n - 2] = 0;
        int deepest = 0;
        for (size_t i = 2 * n - 2; i-- > 0;) {
            depth[i] = depth[parent[i]] + 1;
            deepest = std::max(deepest, depth[i]);
        }
        if (deepest <= maxLength) {
            for (size_t i = 0; i < n; ++i)
                lengths[leaves[i].symbol] = uint8_t(depth[i]);
            return;
        }
        // Too deep: flatten the weights and build again. Halving converges to equal weights,
        // whose tree is as shallow as a tree can be.
        for (auto &leaf : leaves)
            leaf.weight = (leaf.weight + 1) / 2;
    }
}

void canonicalCodes(const uint8_t *lengths, int count, uint16_t *codes) {
    unsigned perLength[17] = {};
    for (int i = 0; i < count; ++i)
        ++perLength[lengths[i]];
    perLength[0] = 0;
    unsigned next[17] = {};
    unsigned code = 0;
    for (int len = 1; len <= 16; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    for (int i = 0; i < count; ++i)
        codes[i] = lengths[i] ? uint16_t(next[lengths[i]]++) : 0;
}

} // namespace unlha
