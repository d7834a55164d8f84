// Host windows: the module's messages to the host go through the host-owned NoxMessageWindow
// record of <pipetask/pipetask.h>. A window is named by its address, as the host passes it in
// "MessagesProcessorHandle" or "OWNERFORM"; 0 or a record with a wrong magic number is no
// window, and every call on it fails.
#pragma once

#include <pipetask/pipetask.h>

#include <cstdint>

namespace pt {

NoxMessageWindow* WindowFromHandle(intptr_t handle) noexcept;

// Queues a message; false when there is no window or the host refused it.
bool PostToWindow(intptr_t window, uint32_t msg, uintptr_t wParam, intptr_t lParam) noexcept;
// Delivers a message and waits for it at most timeoutMs; false on time-out, refusal or no
// window.
bool SendToWindow(intptr_t window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                  uint32_t timeoutMs, intptr_t* result = nullptr) noexcept;
// A data-copy message (PT_WM_COPYDATA) carrying `size` bytes with `tag`.
bool SendCopyData(intptr_t window, uintptr_t wParam, uintptr_t tag, const void* data, uint32_t size,
                  uint32_t timeoutMs) noexcept;

} // namespace pt
