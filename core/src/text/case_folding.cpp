#include "text/case_folding.hpp"

#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <cstring>
#include <memory>

namespace ostrak::text {

namespace {

std::uint32_t optionsForCurrentLocale() {
    const std::string_view language = uloc_getDefault();
    const bool turkic = language.starts_with("tr") || language.starts_with("az");
    return turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
}

bool foldingChanges(UChar32 c, std::uint32_t options) {
    UChar source[2];
    int32_t sourceLength = 0;
    U16_APPEND_UNSAFE(source, sourceLength, c);
    UChar folded[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t foldedLength = u_strFoldCase(folded, 8, source, sourceLength, options, &status);
    return U_FAILURE(status) || foldedLength != sourceLength ||
           u_strCompare(folded, foldedLength, source, sourceLength, false) != 0;
}

// Changes_When_Casefolded is defined on the decomposed form, so it leaves out precomposed
// characters whose full folding only adds a mark (U+01F0 folds to "j" and U+030C, U+1E96 to
// "h" and U+0331, polytonic Greek): these can only be among the cased characters that
// decompose.
void addFoldingDecomposables(USet* changing, std::uint32_t options, UErrorCode& status) {
    std::unique_ptr<USet, decltype(&uset_close)> decomposable(uset_openEmpty(), &uset_close);
    uset_applyIntPropertyValue(decomposable.get(), UCHAR_NFD_QUICK_CHECK, UNORM_NO, &status);
    // Only a character some case mapping changes can fold; those already known to are in.
    std::unique_ptr<USet, decltype(&uset_close)> cased(uset_openEmpty(), &uset_close);
    uset_applyIntPropertyValue(cased.get(), UCHAR_CHANGES_WHEN_CASEMAPPED, 1, &status);
    uset_retainAll(decomposable.get(), cased.get());
    uset_removeAll(decomposable.get(), changing);
    const int32_t ranges = uset_getRangeCount(decomposable.get());
    for (int32_t i = 0; i < ranges && U_SUCCESS(status); ++i) {
        UChar32 start = 0, end = 0;
        uset_getItem(decomposable.get(), i, &start, &end, nullptr, 0, &status);
        for (UChar32 c = start; c <= end; ++c) {
            if (foldingChanges(c, options)) uset_add(changing, c);
        }
    }
}

std::uint8_t leadByte(UChar32 c) {
    uint8_t buffer[U8_MAX_LENGTH];
    int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, c);
    return buffer[0];
}

}  // namespace

void CaseFolder::SetCloser::operator()(USet* set) const {
    uset_close(set);
}

CaseFolder::CaseFolder() : m_options(optionsForCurrentLocale()) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<USet, SetCloser> changing(uset_openEmpty());
    uset_applyIntPropertyValue(changing.get(), UCHAR_CHANGES_WHEN_CASEFOLDED, 1, &status);
    addFoldingDecomposables(changing.get(), m_options, status);
    if (U_FAILURE(status)) {
        m_mayChange.fill(true);  // fold every scalar through ICU: slower, still correct
        return;
    }
    const int32_t ranges = uset_getRangeCount(changing.get());
    for (int32_t i = 0; i < ranges; ++i) {
        UChar32 start = 0, end = 0;
        uset_getItem(changing.get(), i, &start, &end, nullptr, 0, &status);
        for (UChar32 c = start; c <= end; ++c) m_mayChange[leadByte(c)] = true;
    }
    uset_freeze(changing.get());
    m_changing = std::move(changing);
    // Bytes that never begin a valid scalar go through the checked path as well.
    for (int b = 0x80; b < 0xC2; ++b) m_mayChange[b] = false;  // continuation bytes: inside runs
    for (int b = 0xF5; b <= 0xFF; ++b) m_mayChange[b] = true;
    m_mayChange[0xC0] = m_mayChange[0xC1] = true;
    for (UChar32 c = 0; c < 128; ++c) {
        const UChar32 folded = u_foldCase(c, m_options);
        m_ascii[static_cast<std::size_t>(c)] = folded < 128 ? static_cast<char>(folded) : 0;
    }
}

std::size_t CaseFolder::unchangedRun(std::string_view utf8, std::size_t from) const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
    std::size_t run = from;
    // Eight table lookups per step keep the common case (nothing to fold) branch-free.
    for (; run + 8 <= utf8.size(); run += 8) {
        const bool any = m_mayChange[bytes[run]] | m_mayChange[bytes[run + 1]] |
                         m_mayChange[bytes[run + 2]] | m_mayChange[bytes[run + 3]] |
                         m_mayChange[bytes[run + 4]] | m_mayChange[bytes[run + 5]] |
                         m_mayChange[bytes[run + 6]] | m_mayChange[bytes[run + 7]];
        if (any) break;
    }
    while (run < utf8.size() && !m_mayChange[bytes[run]]) ++run;
    return run;
}

void CaseFolder::foldScalar(std::string_view utf8, std::size_t& offset, std::string& out) const {
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    if (bytes[offset] < 128 && m_ascii[bytes[offset]] != 0) {
        out.push_back(m_ascii[bytes[offset++]]);
        return;
    }
    const auto length = static_cast<int32_t>(utf8.size());
    auto next = static_cast<int32_t>(offset);
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    const auto consumed = static_cast<std::size_t>(next) - offset;
    if (c < 0 || (m_changing && !uset_contains(m_changing.get(), c))) {
        out.append(utf8.data() + offset, consumed);
    } else {
        UChar source[2];
        int32_t sourceLength = 0;
        U16_APPEND_UNSAFE(source, sourceLength, c);
        UChar folded[8];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t foldedLength =
            u_strFoldCase(folded, 8, source, sourceLength, m_options, &status);
        char encoded[32];
        int32_t encodedLength = 0;
        u_strToUTF8(encoded, sizeof encoded, &encodedLength, folded, foldedLength, &status);
        if (U_SUCCESS(status)) {
            out.append(encoded, static_cast<std::size_t>(encodedLength));
        } else {
            out.append(utf8.data() + offset, consumed);
        }
    }
    offset = static_cast<std::size_t>(next);
}

void CaseFolder::fold(std::string_view utf8, std::string& out) const {
    out.clear();
    out.reserve(utf8.size());
    std::size_t offset = 0;
    while (offset < utf8.size()) {
        const std::size_t run = unchangedRun(utf8, offset);
        out.append(utf8.data() + offset, run - offset);
        offset = run;
        if (offset < utf8.size()) foldScalar(utf8, offset, out);
    }
}

}  // namespace ostrak::text
