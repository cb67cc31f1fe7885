// The accessibility backend over the AXUIElement C API and Core Foundation.
// An element's token is its AXUIElementRef; the layer's counted handles map
// one to one onto CFRetain and CFRelease.
#include "Platform/macos/CFReference.hpp"
#include "Platform/macos/MacDesktop.hpp"
#include "Platform/macos/Utf16.hpp"

#include <string>

namespace quellan::mac {
namespace {

// The layer's codes are AX's own numbers, so AX results pass through as
// they are and a code the layer does not name still reads as a failure.
static_assert(ax::kSuccess == kAXErrorSuccess);
static_assert(ax::kFailure == kAXErrorFailure);
static_assert(ax::kInvalidElement == kAXErrorInvalidUIElement);
static_assert(ax::kCannotComplete == kAXErrorCannotComplete);
static_assert(ax::kAttributeUnsupported == kAXErrorAttributeUnsupported);
static_assert(ax::kNoValue == kAXErrorNoValue);
static_assert(sizeof(ax::Token) >= sizeof(CFTypeRef));

// The system waits 6 s for an application's answer by default. The scan
// runs on the main thread every 0.35 s, so a hung application would freeze
// the status menu; half a second is ample for a responsive one, and the
// window source leaves a slower one out of its scans for a while.
constexpr auto kMessagingTimeoutSeconds = static_cast<float>(ax::kMessagingTimeoutSeconds);

CFReference<CFStringRef> makeString(std::string_view text) {
    const std::u16string utf16 = utf16FromUtf8(text);
    return CFReference<CFStringRef>::adopt(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar*>(utf16.data()), static_cast<CFIndex>(utf16.size())));
}

std::string utf8String(CFStringRef text) {
    const CFRange all = CFRangeMake(0, CFStringGetLength(text));
    // A lone surrogate cannot be UTF-8; it becomes '?' rather than ending the text.
    constexpr UInt8 kLossByte = '?';
    CFIndex size = 0;
    CFStringGetBytes(text, all, kCFStringEncodingUTF8, kLossByte, false, nullptr, 0, &size);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    CFStringGetBytes(text, all, kCFStringEncodingUTF8, kLossByte, false, reinterpret_cast<UInt8*>(bytes.data()), size,
                     &size);
    bytes.resize(static_cast<std::size_t>(size));
    return bytes;
}

class MacAccessibility final : public ax::AccessibilityBackend {
public:
    MacAccessibility() : systemWide_(CFReference<AXUIElementRef>::adopt(AXUIElementCreateSystemWide())) {
        // Set on the system-wide element, the timeout holds for every element of this process.
        if (systemWide_) (void)AXUIElementSetMessagingTimeout(systemWide_.get(), kMessagingTimeoutSeconds);
    }

    bool isProcessTrusted() override { return AXIsProcessTrusted(); }

    bool isProcessTrustedWithOptions(const ax::TrustCheckOptions& options) override {
        const void* keys[] = {kAXTrustedCheckOptionPrompt};
        const void* values[] = {options.prompt ? kCFBooleanTrue : kCFBooleanFalse};
        const auto dictionary = CFReference<CFDictionaryRef>::adopt(CFDictionaryCreate(
            kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
        // Without the dictionary the check still answers; it just cannot prompt.
        return dictionary ? AXIsProcessTrustedWithOptions(dictionary.get()) : AXIsProcessTrusted();
    }

    ax::Element createApplication(std::int32_t processIdentifier) override {
        if (processIdentifier <= 0) return {};
        return adopt(AXUIElementCreateApplication(static_cast<pid_t>(processIdentifier)));
    }

    ax::Error copyAttributeValue(const ax::Element& element, std::string_view attribute, ax::Value& value) override {
        value = ax::Value();
        const AXUIElementRef ref = refOf(element);
        if (ref == nullptr) return ax::kInvalidElement;
        const auto name = makeString(attribute);
        if (!name) return ax::kFailure;
        CFTypeRef raw = nullptr;
        const AXError error = AXUIElementCopyAttributeValue(ref, name.get(), &raw);
        const auto owned = CFReference<CFTypeRef>::adopt(raw);
        if (error != kAXErrorSuccess) return error;
        value = convert(owned.get());
        return ax::kSuccess;
    }

    ax::Error isAttributeSettable(const ax::Element& element, std::string_view attribute, bool& settable) override {
        settable = false;
        const AXUIElementRef ref = refOf(element);
        if (ref == nullptr) return ax::kInvalidElement;
        const auto name = makeString(attribute);
        if (!name) return ax::kFailure;
        Boolean answer = false;
        const AXError error = AXUIElementIsAttributeSettable(ref, name.get(), &answer);
        if (error != kAXErrorSuccess) return error;
        settable = answer;
        return ax::kSuccess;
    }

    ax::Error setAttributeValue(const ax::Element& element, std::string_view attribute,
                                const ax::Value& value) override {
        const AXUIElementRef ref = refOf(element);
        if (ref == nullptr) return ax::kInvalidElement;
        const auto name = makeString(attribute);
        if (!name) return ax::kFailure;
        CFReference<CFTypeRef> made;
        CFTypeRef cfValue = nullptr;
        if (const bool* flag = value.asBoolean()) {
            cfValue = *flag ? kCFBooleanTrue : kCFBooleanFalse;
        } else if (const double* number = value.asNumber()) {
            made = CFReference<CFTypeRef>::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, number));
            cfValue = made.get();
        } else if (const std::string* text = value.asText()) {
            made = CFReference<CFTypeRef>::adopt(makeString(*text).take());
            cfValue = made.get();
        } else if (const ax::Element* other = value.asElement()) {
            cfValue = refOf(*other);
        }
        // Null and lists have no AX form.
        if (cfValue == nullptr) return ax::kFailure;
        return AXUIElementSetAttributeValue(ref, name.get(), cfValue);
    }

    bool equal(const ax::Element& a, const ax::Element& b) override {
        const AXUIElementRef first = refOf(a);
        const AXUIElementRef second = refOf(b);
        return first != nullptr && second != nullptr && CFEqual(first, second);
    }

    std::uint64_t hash(const ax::Element& element) override {
        const AXUIElementRef ref = refOf(element);
        return ref != nullptr ? static_cast<std::uint64_t>(CFHash(ref)) : 0;
    }

    void retain(ax::Token token) noexcept override {
        if (token != 0) CFRetain(reinterpret_cast<CFTypeRef>(token));
    }

    void release(ax::Token token) noexcept override {
        if (token != 0) CFRelease(reinterpret_cast<CFTypeRef>(token));
    }

private:
    /// The element's reference, or null for a handle this backend did not make.
    AXUIElementRef refOf(const ax::Element& element) const {
        if (element.backend() != this || element.token() == 0) return nullptr;
        return reinterpret_cast<AXUIElementRef>(element.token());
    }

    /// A handle owning the one reference `ref` carries; a null handle for null.
    ax::Element adopt(AXUIElementRef ref) {
        if (ref == nullptr) return {};
        return ax::Element(this, reinterpret_cast<ax::Token>(ref));
    }

    /// The layer's form of a borrowed attribute value.
    ax::Value convert(CFTypeRef value) {
        if (value == nullptr) return {};
        const CFTypeID type = CFGetTypeID(value);
        if (type == CFStringGetTypeID()) return ax::Value::text(utf8String(static_cast<CFStringRef>(value)));
        if (type == CFBooleanGetTypeID())
            return ax::Value::boolean(CFBooleanGetValue(static_cast<CFBooleanRef>(value)));
        if (type == CFNumberGetTypeID()) {
            double number = 0;
            // Lossy for a 64-bit integer past 2^53; the nearest double is kept.
            (void)CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
            return ax::Value::number(number);
        }
        if (type == AXUIElementGetTypeID()) {
            CFRetain(value);
            return ax::Value::element(adopt(static_cast<AXUIElementRef>(value)));
        }
        if (type == CFArrayGetTypeID()) {
            const auto array = static_cast<CFArrayRef>(value);
            const CFIndex count = CFArrayGetCount(array);
            ax::Value::List list;
            list.reserve(static_cast<std::size_t>(count));
            for (CFIndex i = 0; i < count; ++i)
                list.push_back(convert(CFArrayGetValueAtIndex(array, i)));
            return ax::Value::list(std::move(list));
        }
        // AXValue geometry, dates, URLs and the like: nothing the layer reads.
        return {};
    }

    CFReference<AXUIElementRef> systemWide_;
};

} // namespace

std::unique_ptr<ax::AccessibilityBackend> makeAccessibility() { return std::make_unique<MacAccessibility>(); }

} // namespace quellan::mac
