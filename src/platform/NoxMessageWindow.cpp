#include "platform/NoxMessageWindow.h"

namespace pt {

NoxMessageWindow* WindowFromHandle(intptr_t handle) noexcept {
    auto* w = reinterpret_cast<NoxMessageWindow*>(handle);
    if (!w || w->magic != NOX_MESSAGE_WINDOW_MAGIC) return nullptr;
    return w;
}

bool PostToWindow(intptr_t window, uint32_t msg, uintptr_t wParam, intptr_t lParam) noexcept {
    NoxMessageWindow* w = WindowFromHandle(window);
    return w && w->post && w->post(w, msg, wParam, lParam) != 0;
}

bool SendToWindow(intptr_t window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                  uint32_t timeoutMs, intptr_t* result) noexcept {
    NoxMessageWindow* w = WindowFromHandle(window);
    intptr_t answer = 0;
    if (!w || !w->send || !w->send(w, msg, wParam, lParam, timeoutMs, &answer)) return false;
    if (result) *result = answer;
    return true;
}

bool SendCopyData(intptr_t window, uintptr_t wParam, uintptr_t tag, const void* data, uint32_t size,
                  uint32_t timeoutMs) noexcept {
    NoxCopyData cd{tag, size, data};
    return SendToWindow(window, PT_WM_COPYDATA, wParam, reinterpret_cast<intptr_t>(&cd), timeoutMs);
}

} // namespace pt
