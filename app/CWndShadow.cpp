#include "CWndShadow.h"

#include <atomic>

namespace {
std::atomic<bool> g_initialized{false};
}

bool CWndShadow::Initialize() { return !g_initialized.exchange(true); }

bool CWndShadow::IsInitialized() { return g_initialized.load(); }
