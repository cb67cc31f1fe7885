/* Declarations of the Core Foundation, accessibility and AppKit pieces the
 * macOS backend uses and GNUstep does not have, written from Apple's public
 * documentation. Used ONLY by scripts/macos-compile-check (selected by
 * QUELLAN_MAC_COMPILE_CHECK through SystemAPIs.hpp), never in a build for
 * the Mac, which takes the SDK's own headers. They let the backend files be
 * type-checked on Linux; nothing here is implemented or linked, so the check
 * says nothing about what the code does at run time. */
#ifndef QUELLAN_MAC_CHECK_SYSTEM_DECLARATIONS_H
#define QUELLAN_MAC_CHECK_SYSTEM_DECLARATIONS_H

#ifndef QUELLAN_MAC_COMPILE_CHECK
#error "These declarations are for the Linux compile check only; build for the Mac against the SDK."
#endif

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Core Foundation (CFBase.h, CFString.h, CFNumber.h, CFArray.h, CFDictionary.h) ---- */

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef uint16_t UniChar;
typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef uint32_t CFStringEncoding;
typedef const void* CFTypeRef;

typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFArray* CFArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
    CFRange range;
    range.location = location;
    range.length = length;
    return range;
}

/* Typed as the SDK's CF_ENUM makes them in C++: an integer where the enum is
   expected does not compile, on a Mac or here. */
enum CFNumberType : CFIndex {
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat64Type = 6,
    kCFNumberDoubleType = 13
};

/* CFStringEncoding stays an integer; the built-in encodings are an enum of that type. */
enum CFStringBuiltInEncodings : CFStringEncoding { kCFStringEncodingUTF8 = 0x08000100 };

extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CFHashCode CFHash(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);

CFTypeID CFStringGetTypeID(void);
CFTypeID CFBooleanGetTypeID(void);
CFTypeID CFNumberGetTypeID(void);
CFTypeID CFArrayGetTypeID(void);

Boolean CFBooleanGetValue(CFBooleanRef boolean);

CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars, CFIndex numChars);
CFIndex CFStringGetLength(CFStringRef theString);
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen);

typedef const void* (*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);

typedef struct {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
    CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;

typedef struct {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;

extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);

/* ---- Accessibility (HIServices: AXError.h, AXUIElement.h, AXValue.h) ---- */

typedef const struct __AXUIElement* AXUIElementRef;

enum AXError : int32_t {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorInvalidUIElementObserver = -25203,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorActionUnsupported = -25206,
    kAXErrorNotificationUnsupported = -25207,
    kAXErrorNotImplemented = -25208,
    kAXErrorNotificationAlreadyRegistered = -25209,
    kAXErrorNotificationNotRegistered = -25210,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
    kAXErrorParameterizedAttributeUnsupported = -25213,
    kAXErrorNotEnoughPrecision = -25214
};

extern CFStringRef kAXTrustedCheckOptionPrompt;

Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide(void);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef* value);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute, Boolean* settable);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef value);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

#ifdef __cplusplus
}
#endif

/* ---- AppKit (macOS 10.10 to 11) pieces GNUstep does not declare ---- */

#ifdef __OBJC__

@interface NSStatusItem (QuellanCheckDeclarations)
/* The button the status item shows in the menu bar (10.10); nil is possible. */
- (NSStatusBarButton*)button;
@end

@interface NSImage (QuellanCheckDeclarations)
/* A symbol image (11.0); nil when the system knows no symbol of that name. */
+ (NSImage*)imageWithSystemSymbolName:(NSString*)symbolName accessibilityDescription:(NSString*)description;
/* Declared as a property named `template` in AppKit, which ObjC++ can only
 * reach through the accessor methods. */
- (void)setTemplate:(BOOL)isTemplate;
- (BOOL)isTemplate;
@end

@interface NSMenu (QuellanCheckDeclarations)
/* Closes the menu if it is open (10.5). */
- (void)cancelTracking;
@end

@interface NSApplication (QuellanCheckDeclarations)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end

/* NSEvent.h (10.12 names). */
static const NSEventModifierFlags NSEventModifierFlagCommand = 1 << 20;
static const NSEventType NSEventTypeApplicationDefined = 15;

#endif /* __OBJC__ */

#endif /* QUELLAN_MAC_CHECK_SYSTEM_DECLARATIONS_H */
