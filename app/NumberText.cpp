#include "app/NumberText.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace orvi {
namespace {

// The C locale as a locale object; made once, kept for the process's life.
locale_t CLocale() {
    static const locale_t loc = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

std::string FormatC(const char* szFormat, ...) {
    // The thread's locale is switched to C around the call only.
    const locale_t old = ::uselocale(CLocale());
    va_list args;
    va_start(args, szFormat);
    va_list copy;
    va_copy(copy, args);
    char sz[256];
    const int n = std::vsnprintf(sz, sizeof sz, szFormat, args);
    std::string strText;
    if (n >= 0 && static_cast<size_t>(n) < sizeof sz) {
        strText.assign(sz, static_cast<size_t>(n));
    } else if (n >= 0) {
        strText.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(strText.data(), strText.size(), szFormat, copy);
        strText.resize(static_cast<size_t>(n));
    }
    va_end(copy);
    va_end(args);
    ::uselocale(old);
    return strText;
}

double StrtodC(const char* szText, char** ppEnd) { return ::strtod_l(szText, ppEnd, CLocale()); }

void UseCNumericLocale() { std::setlocale(LC_NUMERIC, "C"); }

}  // namespace orvi
