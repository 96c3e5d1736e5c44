// libFuzzer target: arbitrary bytes through the interval conversion and the
// probe evaluation, each checked against a plain model of its rules.
#include "shell.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

int ModelInterval(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t\n\r\v\f");
    if (i == std::string::npos) {
        return 0;
    }
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    std::string digits = text.substr(i, end - i);
    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.empty()) {
        return 0;
    }
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return negative ? INT_MIN : INT_MAX;
    }
    const long long value = std::stoll(digits);
    return static_cast<int>(negative ? -value : value);
}

bool ModelProbe(const std::string& text, const std::string& key) {
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            return false;
        }
        if (text.compare(start, end + 1 - start, key) == 0) {
            return true;
        }
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (ConvertInterval(text.data(), text.size()) != ModelInterval(text)) {
        std::abort();
    }
    for (const char* key : {resultKey, resultKeyb}) {
        if (EvaluateProbe(text.data(), text.size(), key) != ModelProbe(text, key)) {
            std::abort();
        }
    }
    return 0;
}
