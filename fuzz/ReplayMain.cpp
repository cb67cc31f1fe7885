// Runs a fuzz entry point over saved inputs without libFuzzer, so that the
// corpus is a regression suite for any compiler: every file of each
// directory given (and each file given), in name order. A broken invariant
// aborts; finding no input at all fails too, as a moved corpus would
// otherwise pass unnoticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replay(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "cannot read " << path << "\n";
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // A copy of exactly the input's size, so that a sanitizer sees reads past it.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " corpus-directory-or-file...\n";
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path given(argv[i]);
        std::vector<std::filesystem::path> inputs;
        std::error_code error;
        if (std::filesystem::is_directory(given, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(given, error))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            if (error) {
                std::cerr << "cannot list " << given << ": " << error.message() << "\n";
                return 1;
            }
            std::sort(inputs.begin(), inputs.end());
        } else {
            inputs.push_back(given);
        }
        for (const auto& input : inputs) {
            if (!replay(input)) return 1;
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::cerr << "no inputs found\n";
        return 1;
    }
    std::cout << "replayed " << replayed << " inputs\n";
    return 0;
}
