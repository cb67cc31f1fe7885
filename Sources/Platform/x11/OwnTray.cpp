// Quellan's own tray: the managed clients holding the tray or the
// program's own windows, which are never listed, whatever their type.
#include "Platform/x11/Connection.hpp"

namespace quellan::x11 {

std::unordered_set<WindowId> X11Desktop::clientsHolding(const std::vector<WindowId>& seeds,
                                                        const std::vector<WindowId>& clients) {
    const std::unordered_set<WindowId> managed(clients.begin(), clients.end());
    std::unordered_set<WindowId> holding;
    std::vector<WindowId> level = seeds;
    // Up the tree from each seed, one pipelined round trip per level.
    constexpr int kMaxDepth = 16;
    for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (const WindowId window : level) {
            if (managed.contains(window)) holding.insert(window);
            cookies.push_back(xcb_query_tree(connection_->xcb, window));
            ++statistics_.requests;
        }
        ++statistics_.roundTrips;
        std::vector<WindowId> parents;
        for (const auto cookie : cookies) {
            const XcbPointer<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(connection_->xcb, cookie, nullptr));
            if (reply && reply->parent != XCB_NONE && reply->parent != connection_->root)
                parents.push_back(reply->parent);
        }
        level = std::move(parents);
    }
    return holding;
}

} // namespace quellan::x11
