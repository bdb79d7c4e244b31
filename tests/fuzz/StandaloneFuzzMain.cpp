// Runs a fuzz target without libFuzzer (g++ builds): every seed file, then a fixed number of
// deterministic mutations of them, so that CTest gives the same inputs on every run.
//
//   fuzz_recording_file SEED_DIR [RUNS]

#include "FuzzTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// xorshift64*: small, fast and the same on every machine.
struct Random {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    std::uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : std::size_t(next() % n); }
};

// Bytes that matter to the parsers: separators, quotes, number parts, JSON punctuation.
const std::string kInteresting = ",;\t\n\r\"'.eE-+0123456789 {}[]:nulltrue\xEF\xBB\xBF\xFF";

void mutate(std::string& input, Random& random) {
    const int edits = 1 + int(random.below(4));
    for (int i = 0; i < edits; ++i) {
        const std::size_t at = random.below(input.size() + 1);
        switch (random.below(6)) {
        case 0: // flip a bit
            if (!input.empty())
                input[std::min(at, input.size() - 1)] ^= char(1u << random.below(8));
            break;
        case 1: // insert an interesting byte
            input.insert(at, 1, kInteresting[random.below(kInteresting.size())]);
            break;
        case 2: // delete a run
            input.erase(at, random.below(16));
            break;
        case 3: // duplicate a run
            input.insert(at, input.substr(random.below(input.size() + 1), random.below(64)));
            break;
        case 4: // cut the end off
            input.resize(at);
            break;
        default: // overwrite with a random byte
            if (!input.empty())
                input[std::min(at, input.size() - 1)] = char(random.next());
            break;
        }
    }
}

void run(const std::string& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SEED_DIR [RUNS]\n", argv[0]);
        return 2;
    }
    const long runs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20000;
    std::vector<std::string> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream file(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::sort(seeds.begin(), seeds.end()); // directory order differs between file systems
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[1]);
        return 2;
    }
    run({});
    for (const std::string& seed : seeds)
        run(seed);
    Random random;
    for (long i = 0; i < runs; ++i) {
        std::string input = seeds[random.below(seeds.size())];
        mutate(input, random);
        run(input);
    }
    std::printf("%zu seeds and %ld mutations passed\n", seeds.size(), runs);
    return 0;
}
