#pragma once

#include "failure/Result.h"

#include <optional>

namespace esptool {

// What asking the chip the same thing several times came to.
template <typename T>
struct Agreement
{
    std::optional<T> agreed;  // two answers in a row that were the same, or one believed at once
    std::optional<T> last;    // the last usable answer, when none agreed
};

// Asks up to `asks` times until two usable answers in a row agree, or one is believed at once:
// a value damaged on the line is never taken for the chip's. `ask` gives an answer, nothing for
// an answer that cannot be used, or fails (a lost link, a restarted chip), which ends it.
// `believedAtOnce` says which answer needs no second one (noise cannot forge an expected
// digest).
template <typename T, typename Ask, typename Believed>
Result<Agreement<T>> askUntilTwoAgree(int asks, Ask ask, Believed believedAtOnce)
{
    Agreement<T> result;
    for (int asked = 0; asked < asks; ++asked) {
        Result<std::optional<T>> answer = ask();
        if (!answer)
            return answer.error();
        const std::optional<T>& given = answer.value();
        if (!given)
            continue;
        const T& value = *given;
        if (believedAtOnce(value) || result.last == value) {
            result.agreed = value;
            return result;
        }
        result.last = value;
    }
    return result;
}

}  // namespace esptool
