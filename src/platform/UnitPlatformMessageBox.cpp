#include "platform/UnitPlatformMessageBox.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex GLock;
TMessageBoxHandler GHandler;

int DefaultHandler(const std::string& text, const std::string& caption, unsigned) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
}
} // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    TMessageBoxHandler handler;
    {
        std::lock_guard lock(GLock);
        handler = GHandler;
    }
    return handler ? handler(text, caption, flags) : DefaultHandler(text, caption, flags);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    std::lock_guard lock(GLock);
    std::swap(GHandler, handler);
    return handler;
}
