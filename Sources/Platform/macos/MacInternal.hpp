// The macOS backend's shared pieces in Objective-C++ types: for the
// backend's own .mm files, never for the rest of the program.
#pragma once

#ifndef __OBJC__
#error "MacInternal.hpp is for the macOS backend's Objective-C++ files only."
#endif

#include "Platform/AppKit.hpp"
#include "Platform/macos/SystemAPIs.hpp"
#include "Platform/macos/Utf16.hpp"

#include <string>
#include <string_view>

namespace quellan::mac {

/// `text` as an NSString; never nil, ill-formed UTF-8 included.
inline NSString* nsString(std::string_view text) {
    const std::u16string utf16 = utf16FromUtf8(text);
    return [NSString stringWithCharacters:reinterpret_cast<const unichar*>(utf16.data()) length:utf16.size()];
}

/// `text` as UTF-8; empty for nil. A lone surrogate is converted lossily
/// rather than losing the whole text.
inline std::string utf8String(NSString* text) {
    if (text == nil) return {};
    NSData* data = [text dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
    if (data == nil) return {};
    return std::string(static_cast<const char*>([data bytes]), [data length]);
}

/// A native menu for the model, with autoenablesItems off so the model's
/// enabled flags hold. Each item with an action sends it, when chosen, to
/// the model item's target with a copy of the model item.
NSMenu* buildMenu(const appkit::Menu& model);

} // namespace quellan::mac
