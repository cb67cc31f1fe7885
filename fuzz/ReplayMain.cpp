// Runs a fuzz entry point over saved inputs without libFuzzer, so that the
// corpus is a regression suite for any compiler: every file of each
// directory given, in name order. A broken invariant aborts; finding no
// input fails too, as a moved corpus would otherwise pass unnoticed.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::set<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
            inputs.insert(entry.path());
    for (const auto& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        // A copy of exactly the input's size, so that a sanitizer sees reads past it.
        const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(file), {}};
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::cout << "replayed " << inputs.size() << " inputs\n";
    return inputs.empty() ? 1 : 0;
}
