#include "text/TextCollation.h"

#include <memory>
#include <string_view>
#include <unicode/coll.h>
#include <unicode/locid.h>

namespace kestro {

namespace {

// A collator is not safe to share between threads; each thread gets its own.
icu::Collator* displayCollator() {
    thread_local std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        // Without a language setting ICU picks the POSIX locale, whose order puts every capital
        // first; the root order is the user-facing one there.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string_view(locale.getVariant()) == "POSIX" ||
            std::string_view(locale.getLanguage()).empty())
            locale = icu::Locale::getRoot();
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (made) made->setStrength(icu::Collator::SECONDARY);
        return made;
    }();
    return collator.get();
}

} // namespace

int compareForDisplay(std::string_view left, std::string_view right) {
    icu::Collator* collator = displayCollator();
    if (collator == nullptr) return left.compare(right);
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        collator->compareUTF8(icu::StringPiece(left.data(), static_cast<int32_t>(left.size())),
                              icu::StringPiece(right.data(), static_cast<int32_t>(right.size())), status);
    if (U_FAILURE(status)) return left.compare(right);
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

} // namespace kestro
