#include "control/process_settings.h"

#include <atomic>

namespace ombrix {
namespace {
std::atomic<int32_t> g_text_code_page{65001};
std::atomic<int32_t> g_language{0};
}  // namespace

int32_t TextCodePage() { return g_text_code_page.load(std::memory_order_relaxed); }
void SetTextCodePage(int32_t code_page) { g_text_code_page.store(code_page, std::memory_order_relaxed); }

int32_t Language() { return g_language.load(std::memory_order_relaxed); }
void SetLanguage(int32_t language) { g_language.store(language, std::memory_order_relaxed); }

}  // namespace ombrix
