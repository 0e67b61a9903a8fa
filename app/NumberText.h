#pragma once
// Numbers as text in the C locale, whatever the desktop's locale is: the log,
// the message files, the dialogs and ORVI2.ini always use '.' as the decimal
// point, and a typed "1.25" always reads as 1.25.
#include <string>

namespace orvi {

// printf-style formatting with the C locale's numbers.
std::string FormatC(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

// strtod with the C locale's numbers: the same rules, '.' as the decimal point.
double StrtodC(const char* szText, char** ppEnd);

// Sets the process's LC_NUMERIC to "C" (after the GUI toolkit has set the
// desktop's locale), so that nothing else formats numbers the desktop's way.
void UseCNumericLocale();

}  // namespace orvi
