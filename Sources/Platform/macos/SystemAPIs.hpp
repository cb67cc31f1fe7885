// The Apple headers the macOS backend files build against. The Linux
// compile check (scripts/macos-compile-check) defines
// QUELLAN_MAC_COMPILE_CHECK and builds the same files against GNUstep's
// Foundation and AppKit plus declarations of our own for what GNUstep
// lacks; that checks that the code compiles, not what it does on a Mac.
#pragma once

#ifdef QUELLAN_MAC_COMPILE_CHECK
#ifdef __OBJC__
#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#endif
#include "Platform/macos/check/SystemDeclarations.h"
#else
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#ifdef __OBJC__
#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#endif
#endif
