// The settings file on any bytes, both ways: the input read as a file a
// person or a crash left behind, and read as values to write: records of a
// key length byte, that many key bytes, then a tag byte (even: a number in
// the next eight bytes, little-endian; odd: a boolean, its bit 1 the value).
#include "FuzzSupport.hpp"
#include "Platform/qt/SettingsFormat.hpp"

using namespace quellan::qt::settings;
using Stored = quellan::platform::InMemoryUserDefaults::Stored;

/// What is written reads back as the same values.
static void checkRoundTrip(const Values& values) {
    const Parsed again = parse(serialize(values));
    QUELLAN_FUZZ_CHECK(!again.error && again.values == values);
}

static Values valuesFrom(std::string_view bytes) {
    Values values;
    std::size_t i = 0;
    const auto next = [&]() -> std::uint8_t { return i < bytes.size() ? bytes[i++] : 0; };
    while (i < bytes.size()) {
        const std::size_t length = next();
        std::string key(bytes.substr(i, length));
        i += key.size();
        const std::uint8_t tag = next();
        std::uint64_t number = 0;
        for (int k = 0; k < 8 && tag % 2 == 0; ++k)
            number |= std::uint64_t{next()} << (8 * k);
        values.insert_or_assign(std::move(key),
                                tag % 2 == 0 ? Stored(static_cast<std::int64_t>(number)) : Stored((tag & 2) != 0));
    }
    return values;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file = quellan::fuzz::chars(data, size);
    const Parsed parsed = parse(file);
    if (!parsed.error) checkRoundTrip(parsed.values);
    // The file twice gives each of its settings twice: an error, not one of the values kept.
    if (!parsed.error && !parsed.values.empty()) QUELLAN_FUZZ_CHECK(parse(std::string(file) + std::string(file)).error);
    checkRoundTrip(valuesFrom(file));
    return 0;
}
