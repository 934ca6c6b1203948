#include "control/process_settings.h"

#include <atomic>

namespace ombrix {
namespace {
std::atomic<int32_t> g_language{0};
}  // namespace

int32_t Language() { return g_language.load(std::memory_order_relaxed); }
void SetLanguage(int32_t language) { g_language.store(language, std::memory_order_relaxed); }

}  // namespace ombrix
