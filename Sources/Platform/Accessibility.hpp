// The accessibility interface Quellan reads and minimizes windows through:
// counted element handles, typed attribute values and error codes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quellan::ax {

/// Result code of an accessibility call; only `kSuccess` counts as success.
using Error = std::int32_t;
inline constexpr Error kSuccess = 0;
inline constexpr Error kFailure = -25200;
/// The element's object is gone, or the element is not one the backend made.
inline constexpr Error kInvalidElement = -25202;
inline constexpr Error kCannotComplete = -25204;
inline constexpr Error kAttributeUnsupported = -25205;
inline constexpr Error kNoValue = -25212;

/// How long a backend that asks other programs waits for an answer before
/// a call fails with `kCannotComplete` (the macOS one sets it). A failure
/// that took about this long is an application not answering at all.
inline constexpr double kMessagingTimeoutSeconds = 0.5;

// Attribute names and values, listed once for every caller and backend.
inline constexpr std::string_view kFocusedWindowAttribute = "AXFocusedWindow";
inline constexpr std::string_view kWindowsAttribute = "AXWindows";
inline constexpr std::string_view kRoleAttribute = "AXRole";
inline constexpr std::string_view kSubroleAttribute = "AXSubrole";
inline constexpr std::string_view kMinimizedAttribute = "AXMinimized";
inline constexpr std::string_view kTitleAttribute = "AXTitle";
inline constexpr std::string_view kWindowRole = "AXWindow";
inline constexpr std::string_view kStandardWindowSubrole = "AXStandardWindow";
inline constexpr std::string_view kTrustedCheckOptionPrompt = "AXTrustedCheckOptionPrompt";

class AccessibilityBackend;

/// Opaque per-backend identity of one element object.
using Token = std::uintptr_t;

/// A counted reference to an accessibility element. Copying retains,
/// destruction releases; a default-constructed handle is null.
class Element {
public:
    Element() noexcept = default;
    /// Adopts one reference that the backend has already counted.
    Element(AccessibilityBackend* backend, Token token) noexcept : backend_(backend), token_(token) {}
    Element(const Element& other) noexcept;
    Element(Element&& other) noexcept;
    Element& operator=(const Element& other) noexcept;
    Element& operator=(Element&& other) noexcept;
    ~Element();

    explicit operator bool() const noexcept { return backend_ != nullptr; }
    AccessibilityBackend* backend() const noexcept { return backend_; }
    Token token() const noexcept { return token_; }

private:
    void reset() noexcept;

    AccessibilityBackend* backend_ = nullptr;
    Token token_ = 0;
};

/// An attribute value: null, text, boolean, number, element or list of values.
class Value {
public:
    using List = std::vector<Value>;
    enum class Kind { null, text, boolean, number, element, list };

    Value() = default;
    static Value text(std::string text) { return Value(std::in_place_index<1>, std::move(text)); }
    static Value boolean(bool flag) { return Value(std::in_place_index<2>, flag); }
    static Value number(double number) { return Value(std::in_place_index<3>, number); }
    static Value element(Element element) { return Value(std::in_place_index<4>, std::move(element)); }
    static Value list(List values) { return Value(std::in_place_index<5>, std::move(values)); }

    Kind kind() const noexcept { return static_cast<Kind>(storage_.index()); }
    bool isNull() const noexcept { return kind() == Kind::null; }
    /// The type check the window source uses before trusting a value as an element.
    bool isElement() const noexcept { return kind() == Kind::element; }

    const std::string* asText() const noexcept { return std::get_if<1>(&storage_); }
    const bool* asBoolean() const noexcept { return std::get_if<2>(&storage_); }
    const double* asNumber() const noexcept { return std::get_if<3>(&storage_); }
    const Element* asElement() const noexcept { return std::get_if<4>(&storage_); }
    const List* asList() const noexcept { return std::get_if<5>(&storage_); }
    List* asList() noexcept { return std::get_if<5>(&storage_); }

private:
    using Storage = std::variant<std::monostate, std::string, bool, double, Element, List>;
    // Built in place: a moved-in temporary variant trips GCC's
    // maybe-uninitialized analysis under the sanitizers.
    template <std::size_t I, typename T> Value(std::in_place_index_t<I> index, T&& value)
        : storage_(index, std::forward<T>(value)) {}

    Storage storage_;
};

/// Options of the trust check; `prompt` asks the system to show its
/// permission prompt (the `kTrustedCheckOptionPrompt` entry).
struct TrustCheckOptions {
    bool prompt = false;
};

/// A window that gained the focus, and when (wall-clock seconds).
struct FocusChange {
    Element window;
    std::int32_t processIdentifier = 0;
    double instant = 0;
};

/// What a backend provides. Every call is made on the main thread.
class AccessibilityBackend {
public:
    virtual ~AccessibilityBackend() = default;

    virtual bool isProcessTrusted() = 0;
    virtual bool isProcessTrustedWithOptions(const TrustCheckOptions& options) = 0;
    /// A look at the desktop begins: what the calls answer until the next
    /// look is the desktop as it stands now. A backend that keeps a view of
    /// the desktop brings it up to date here, once, rather than at each call.
    virtual void beginLook() {}
    virtual Element createApplication(std::int32_t processIdentifier) = 0;
    /// On success `value` holds the attribute (possibly null); otherwise it is null.
    virtual Error copyAttributeValue(const Element& element, std::string_view attribute, Value& value) = 0;
    virtual Error isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) = 0;
    virtual Error setAttributeValue(const Element& element, std::string_view attribute, const Value& value) = 0;
    virtual bool equal(const Element& a, const Element& b) = 0;
    virtual std::uint64_t hash(const Element& element) = 0;
    /// The windows focused since the last call, oldest first. A backend that
    /// sees the focus only when asked has none to give.
    virtual std::vector<FocusChange> takeFocusChanges() { return {}; }
    /// The window's place in the desktop's stacking order, counted from the
    /// bottom: a lower window was used less recently. None where the
    /// platform cannot tell.
    virtual std::optional<std::uint64_t> stackingPosition(const Element&) { return std::nullopt; }
    /// When the window last became one that may count (opened, restored,
    /// brought to the shown desktop), in wall-clock seconds, where the
    /// desktop tells it; none for windows there before the first look.
    virtual std::optional<double> appearedAt(const Element&) { return std::nullopt; }
    /// Where the desktop tells of its changes: keeps `onChange` (empty: none)
    /// and calls it whenever something the calls above answer may have
    /// changed, on the main thread and possibly inside another call, so it
    /// must not call back. False where the desktop tells nothing (macOS):
    /// then only asking again finds changes.
    virtual bool observeDesktopChanges(std::function<void()> /*onChange*/) { return false; }
    /// True when what the calls answer can change only through what
    /// `onChange` will announce: nothing has arrived that is not yet read.
    /// Handles what has arrived first.
    virtual bool desktopSettled() { return false; }

    virtual void retain(Token token) noexcept = 0;
    virtual void release(Token token) noexcept = 0;
};

// The calls the program makes, dispatched to the installed backend.
bool isProcessTrusted();
bool isProcessTrustedWithOptions(const TrustCheckOptions& options);
void beginLook();
Element createApplication(std::int32_t processIdentifier);
Error copyAttributeValue(const Element& element, std::string_view attribute, Value& value);
Error isAttributeSettable(const Element& element, std::string_view attribute, bool& settable);
Error setAttributeValue(const Element& element, std::string_view attribute, const Value& value);
/// Both handles denote the same element. Null handles equal only each other.
bool equal(const Element& a, const Element& b);
/// The element's unsigned 64-bit hash; 0 for a null handle.
std::uint64_t hash(const Element& element);
std::vector<FocusChange> takeFocusChanges();
std::optional<std::uint64_t> stackingPosition(const Element& window);
std::optional<double> appearedAt(const Element& window);
bool observeDesktopChanges(std::function<void()> onChange);
bool desktopSettled();

} // namespace quellan::ax
