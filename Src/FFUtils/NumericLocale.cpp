#include <locale.h>

#include "FFUtils/FFUtils.h"

namespace vexa {

TCNumericLocale::TCNumericLocale() {
  // A copy of the thread's present locale with only the numeric category
  // replaced; newlocale takes over the copy on success.
  locale_t base = duplocale(uselocale(static_cast<locale_t>(0)));
  if (!base) return;
  Locale_ = newlocale(LC_NUMERIC_MASK, "C", base);
  if (!Locale_) {
    freelocale(base);
    return;
  }
  Old_ = uselocale(Locale_);
}

TCNumericLocale::~TCNumericLocale() {
  if (!Locale_) return;
  uselocale(Old_);
  freelocale(Locale_);
}

}  // namespace vexa
