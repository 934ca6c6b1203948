#include "text/code_page.h"

#include <atomic>

namespace ombrix {
namespace {
std::atomic<int32_t> g_text_code_page{65001};
}  // namespace

int32_t TextCodePage() { return g_text_code_page.load(std::memory_order_relaxed); }
void SetTextCodePage(int32_t code_page) { g_text_code_page.store(code_page, std::memory_order_relaxed); }

}  // namespace ombrix
