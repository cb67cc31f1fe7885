// Plain menu models as NSMenus. Every item with an action gets one
// dispatcher object as its target and one action method; the item, a
// subclass of NSMenuItem, carries a copy of its model item, whose selector
// text and target the dispatcher hands to performActionForItem. No
// selectors are made at run time and nothing is forwarded.
#include "Platform/macos/MacInternal.hpp"

#include <variant>

// An NSMenuItem that remembers the model item it was made from.
@interface QuellanMenuItem : NSMenuItem {
@public
    quellan::appkit::MenuItem model;
}
@end

@implementation QuellanMenuItem
// Copies made by AppKit keep the model item too, or they would do nothing.
- (id)copyWithZone:(NSZone*)zone {
    QuellanMenuItem* copy = [super copyWithZone:zone];
    copy->model = model;
    return copy;
}
@end

// The target of every item with an action. NSMenuItem holds its target
// weakly, so there is one of these for the life of the process.
@interface QuellanMenuDispatcher : NSObject
+ (QuellanMenuDispatcher*)shared;
- (void)performModelAction:(id)sender;
@end

@implementation QuellanMenuDispatcher
+ (QuellanMenuDispatcher*)shared {
    static QuellanMenuDispatcher* const shared = [[QuellanMenuDispatcher alloc] init];
    return shared;
}

- (void)performModelAction:(id)sender {
    if (![sender isKindOfClass:[QuellanMenuItem class]]) return;
    // A copy: the command may replace the menu, and with it this item.
    const quellan::appkit::MenuItem item = static_cast<QuellanMenuItem*>(sender)->model;
    (void)quellan::appkit::performActionForItem(item);
}
@end

namespace quellan::mac {
namespace {

// AppKit reads one character; an upper-case letter adds Shift by itself.
NSString* keyEquivalentOf(const appkit::MenuItem& item) {
    NSString* key = nsString(item.keyEquivalent);
    return [key length] == 1 ? key : @"";
}

NSEventModifierFlags modifiersOf(const appkit::MenuItem& item) {
    switch (item.keyEquivalentModifier) {
    case appkit::KeyModifier::command:
        return NSEventModifierFlagCommand;
    }
    return NSEventModifierFlagCommand;
}

id objectFor(const appkit::RepresentedObject& object) {
    if (const auto* integer = std::get_if<std::int64_t>(&object)) return [NSNumber numberWithLongLong:*integer];
    if (const auto* number = std::get_if<double>(&object)) return [NSNumber numberWithDouble:*number];
    if (const auto* text = std::get_if<std::string>(&object)) return nsString(*text);
    return nil;
}

} // namespace

NSMenu* buildMenu(const appkit::Menu& model) {
    NSMenu* menu = [[NSMenu alloc] initWithTitle:@""];
    [menu setAutoenablesItems:NO];
    for (const appkit::MenuItem& item : model.items()) {
        if (item.isSeparator) {
            [menu addItem:[NSMenuItem separatorItem]];
            continue;
        }
        // Items without an action, labels among them, have no target either.
        const SEL action = item.action ? @selector(performModelAction:) : nullptr;
        QuellanMenuItem* native = [[QuellanMenuItem alloc] initWithTitle:nsString(item.title)
                                                                  action:action
                                                           keyEquivalent:keyEquivalentOf(item)];
        native->model = item;
        if (item.action) [native setTarget:[QuellanMenuDispatcher shared]];
        [native setKeyEquivalentModifierMask:modifiersOf(item)];
        [native setState:item.state == appkit::ControlState::on ? NSControlStateValueOn : NSControlStateValueOff];
        [native setEnabled:item.enabled ? YES : NO];
        [native setRepresentedObject:objectFor(item.representedObject)];
        if (item.submenu) [native setSubmenu:buildMenu(*item.submenu)];
        [menu addItem:native];
    }
    return menu;
}

} // namespace quellan::mac
