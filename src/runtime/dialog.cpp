// The host's dialog hook (About boxes and the like).
#include <atomic>

#include "velk/oleauto.h"

namespace {
struct Hook {
    VELK_DIALOG_HOOK fn;
    void* context;
};
std::atomic<Hook*> g_hook{nullptr};
}  // namespace

void VelkSetDialogHook(VELK_DIALOG_HOOK hook, void* context) {
    Hook* next = hook ? new Hook{hook, context} : nullptr;
    delete g_hook.exchange(next);
}

HRESULT VelkShowDialog(LPCOLESTR caption, LPCOLESTR text) {
    Hook* h = g_hook.load();
    if (!h) return S_OK;
    return h->fn(caption, text, h->context);
}
