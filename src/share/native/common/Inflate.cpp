#include "Inflate.h"

#include <algorithm>
#include <vector>

#include "ErrorHandling.h"

namespace {

const char* const damaged = "damaged deflate data";

const int maxBits = 15;

/// A canonical Huffman code: how many codes of each length, and the symbols
/// in code order.
struct Huffman {
    std::vector<int> count = std::vector<int>(maxBits + 1, 0);
    std::vector<int> symbol;
};

// Incomplete codes are accepted (a stream may use one distance code only);
// over-subscribed ones would make decoding read past the symbols.
Huffman construct(const std::vector<int>& lengths) {
    Huffman h;
    h.symbol.assign(lengths.size(), 0);
    for (const int length : lengths) {
        ++h.count[length];
    }
    int left = 1;
    for (int len = 1; len <= maxBits; ++len) {
        left = (left << 1) - h.count[len];
        if (left < 0) {
            fail(damaged, KV_SOURCE_CODE_POS);
        }
    }
    std::vector<int> offsets(maxBits + 2, 0);
    for (int len = 1; len <= maxBits; ++len) {
        offsets[len + 1] = offsets[len] + h.count[len];
    }
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) {
            h.symbol[offsets[lengths[s]]++] = static_cast<int>(s);
        }
    }
    return h;
}

const int lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int distanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                              33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                              1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class Inflater {
public:
    Inflater(const std::string& in, std::size_t limit) : in(in), limit(limit) {}

    std::string run() {
        bool last = false;
        while (!last && out.size() < limit) {
            last = bits(1) == 1;
            switch (bits(2)) {
            case 0: stored(); break;
            case 1: fixed(); break;
            case 2: dynamic(); break;
            default:
                fail(damaged, KV_SOURCE_CODE_POS);
            }
        }
        return out;
    }

private:
    int bits(int need) {
        unsigned long value = buffer;
        while (count < need) {
            if (at >= in.size()) {
                fail(damaged, KV_SOURCE_CODE_POS);
            }
            value |= static_cast<unsigned long>(static_cast<unsigned char>(in[at++])) << count;
            count += 8;
        }
        buffer = value >> need;
        count -= need;
        return static_cast<int>(value & ((1UL << need) - 1));
    }

    void stored() {
        buffer = 0;
        count = 0;
        if (at + 4 > in.size()) {
            fail(damaged, KV_SOURCE_CODE_POS);
        }
        const auto word = [this](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(in[at + i])) |
                   static_cast<std::size_t>(static_cast<unsigned char>(in[at + i + 1])) << 8;
        };
        const std::size_t length = word(0);
        if (word(2) != (~length & 0xffff) || at + 4 + length > in.size()) {
            fail(damaged, KV_SOURCE_CODE_POS);
        }
        out.append(in, at + 4, length);
        at += 4 + length;
    }

    int decode(const Huffman& h) {
        int code = 0;
        int first = 0;
        int index = 0;
        for (int len = 1; len <= maxBits; ++len) {
            code |= bits(1);
            const int n = h.count[len];
            if (code - n < first) {
                return h.symbol[index + (code - first)];
            }
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        fail(damaged, KV_SOURCE_CODE_POS);
    }

    void codes(const Huffman& lengths, const Huffman& distances) {
        while (out.size() < limit) {
            const int symbol = decode(lengths);
            if (symbol < 256) {
                out += static_cast<char>(symbol);
                continue;
            }
            if (symbol == 256) {
                return;
            }
            if (symbol - 257 >= 29) {
                fail(damaged, KV_SOURCE_CODE_POS);
            }
            const int length = lengthBase[symbol - 257] + bits(lengthExtra[symbol - 257]);
            const int d = decode(distances);
            if (d >= 30) {
                fail(damaged, KV_SOURCE_CODE_POS);
            }
            const std::size_t distance =
                static_cast<std::size_t>(distanceBase[d] + bits(distanceExtra[d]));
            if (distance > out.size()) {
                fail(damaged, KV_SOURCE_CODE_POS);
            }
            for (int i = 0; i < length; ++i) {
                out += out[out.size() - distance];
            }
        }
    }

    void fixed() {
        static const Huffman lengths = [] {
            std::vector<int> l(288, 8);
            std::fill(l.begin() + 144, l.begin() + 256, 9);
            std::fill(l.begin() + 256, l.begin() + 280, 7);
            return construct(l);
        }();
        static const Huffman distances = construct(std::vector<int>(30, 5));
        codes(lengths, distances);
    }

    void dynamic() {
        const int nlen = bits(5) + 257;
        const int ndist = bits(5) + 1;
        const int ncode = bits(4) + 4;
        if (nlen > 286 || ndist > 30) {
            fail(damaged, KV_SOURCE_CODE_POS);
        }
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        std::vector<int> codeLengths(19, 0);
        for (int i = 0; i < ncode; ++i) {
            codeLengths[order[i]] = bits(3);
        }
        const Huffman lencode = construct(codeLengths);
        std::vector<int> lengths;
        while (lengths.size() < static_cast<std::size_t>(nlen + ndist)) {
            const int symbol = decode(lencode);
            if (symbol < 16) {
                lengths.push_back(symbol);
                continue;
            }
            if (symbol == 16 && lengths.empty()) {
                fail(damaged, KV_SOURCE_CODE_POS);
            }
            const int value = symbol == 16 ? lengths.back() : 0;
            const int repeat = symbol == 16 ? 3 + bits(2) : symbol == 17 ? 3 + bits(3) : 11 + bits(7);
            if (lengths.size() + static_cast<std::size_t>(repeat) > static_cast<std::size_t>(nlen + ndist)) {
                fail(damaged, KV_SOURCE_CODE_POS);
            }
            lengths.insert(lengths.end(), static_cast<std::size_t>(repeat), value);
        }
        // A block without an end code could never end.
        if (lengths[256] == 0) {
            fail(damaged, KV_SOURCE_CODE_POS);
        }
        codes(construct(std::vector<int>(lengths.begin(), lengths.begin() + nlen)),
              construct(std::vector<int>(lengths.begin() + nlen, lengths.end())));
    }

    const std::string& in;
    const std::size_t limit;
    std::size_t at = 0;
    unsigned long buffer = 0;
    int count = 0;
    std::string out;
};

} // namespace

namespace Inflate {

std::string inflate(const std::string& data, std::size_t limit) {
    return Inflater(data, limit).run();
}

} // namespace Inflate
